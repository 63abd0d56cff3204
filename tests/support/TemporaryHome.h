#pragma once

#include <QSettings>
#include <QString>
#include <cstdlib>
#include <filesystem>

#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace lumacap::test {

// A home of its own for the real application services: HOME, the XDG data
// and config folders, Claude Code's folder ($CLAUDE_CONFIG_DIR) and the user
// settings all point into a temporary folder while the object lives, and back
// where they were afterwards.
class TemporaryHome {
 public:
  const std::filesystem::path& path() const { return folder_.path(); }
  std::filesystem::path claudeFolder() const { return folder_ / "claude"; }

 private:
  // QSettings remembers its folder from first use, so it is told explicitly;
  // at the end (after the environment is back) the user's folder again.
  struct SettingsFolder {
    explicit SettingsFolder(const std::filesystem::path& folder) { use(folder); }
    ~SettingsFolder() {
      const char* config = std::getenv("XDG_CONFIG_HOME");
      const char* home = std::getenv("HOME");
      use(config ? std::filesystem::path(config) : std::filesystem::path(home ? home : "") / ".config");
    }
    static void use(const std::filesystem::path& folder) {
      const QString path = QString::fromStdString(folder.string());
      QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
      QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
    }
  };

  TempDir folder_;
  SettingsFolder settings_{folder_ / ".config"};
  ScopedEnvironment environment_{{"HOME", folder_.path().string()},
                                 {"XDG_DATA_HOME", (folder_ / ".local/share").string()},
                                 {"XDG_CONFIG_HOME", (folder_ / ".config").string()},
                                 {"CLAUDE_CONFIG_DIR", claudeFolder().string()}};
};

}  // namespace lumacap::test
