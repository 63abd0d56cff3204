#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/CodingAgent.h"

namespace lumacap {

// Where this program's hooks go, and whether they are there (nothing when
// that file cannot be read).
struct HookStatus {
  std::filesystem::path settingsFile;
  std::optional<bool> installed;
};

// Adds this program's hooks to one agent's hooks file, or takes them out:
// under a lock against this program's other edits, never over another
// program's edit made meanwhile, never through a link to something other than
// a regular file, keeping a backup of a file it changes (and only then).
class HookInstaller {
 public:
  explicit HookInstaller(const CodingAgent& agent) : agent_(agent) {}

  // Adds (install) or removes the hooks; returns the message to show; throws
  // on failure, naming the file.
  std::string configure(bool install, const std::filesystem::path& executable) const;

  // The file configure() edits: in the folder the agent's variable names
  // (which must be absolute), else in the home folder.
  std::filesystem::path hooksFile() const;
  // Whether that file holds the hooks for `executable` as an install leaves
  // them. Throws when it cannot be read.
  bool installed(const std::filesystem::path& executable) const;
  // Both of the above, without throwing.
  HookStatus status(const std::filesystem::path& executable) const;

  // The folder of Lumacap's captures, for an agent that reads only folders
  // it was given; nothing for the others.
  std::optional<std::filesystem::path> readableFolder() const;

 private:
  const CodingAgent& agent_;
};

}  // namespace lumacap
