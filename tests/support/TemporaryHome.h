#pragma once

#include <filesystem>

#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace lumacap::test {

// A home of its own for the real application services: HOME, the XDG data
// and config folders and Claude Code's folder ($CLAUDE_CONFIG_DIR) point into
// a temporary folder while the object lives, and back where they were
// afterwards. (The test main gives every test a settings folder of its own.)
class TemporaryHome {
 public:
  const std::filesystem::path& path() const { return folder_.path(); }
  std::filesystem::path claudeFolder() const { return folder_ / "claude"; }

 private:
  TempDir folder_;
  ScopedEnvironment environment_{{"HOME", folder_.path().string()},
                                 {"XDG_DATA_HOME", (folder_ / ".local/share").string()},
                                 {"XDG_CONFIG_HOME", (folder_ / ".config").string()},
                                 {"CLAUDE_CONFIG_DIR", claudeFolder().string()}};
};

}  // namespace lumacap::test
