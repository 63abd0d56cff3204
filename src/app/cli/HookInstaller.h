#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/CodingAgent.h"

namespace lumacap {

// Where this program's hooks go, and whether they are there (nothing when
// that file cannot be read).
struct HookStatus {
  std::filesystem::path settingsFile;
  std::optional<bool> installed;
};

// How an edit of a settings file ended.
enum class SettingsEdit { written, writtenOverExisting, unchanged };

// The file's new bytes from its current ones (absent: no file); nothing to
// leave it as it is. Throws FileError for a file it cannot edit.
using SettingsMerge = std::function<std::optional<std::string>(const std::optional<std::string>&)>;

// Edits an agent's settings file with `merge`, as every installer does: under
// a lock against this program's other edits, never over another program's
// edit made meanwhile (merged again from that), never through a link to
// something other than a regular file, writing the whole file atomically (a
// new one 0600, in a folder made 0700) and keeping a backup beside it of a
// file it changes (and only then). Throws naming the file.
SettingsEdit editSettingsFile(const std::filesystem::path& settings, const SettingsMerge& merge);

// The path of `file` in the agent's configuration folder: the folder its
// variable names (which must be absolute), else in the home folder; for
// `inHome`, in the home folder itself unless the variable is set.
std::filesystem::path agentFile(const CodingAgent& agent, std::string_view file, bool inHome);

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
