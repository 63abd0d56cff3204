#pragma once

#include <QSettings>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace lumacap::test {

// A home of its own for the real application services: HOME, the XDG data
// and config folders, Claude Code's folder ($CLAUDE_CONFIG_DIR) and the user
// settings all point into a temporary folder while the object lives, and back
// where they were afterwards.
class TemporaryHome {
 public:
  TemporaryHome() {
    point("HOME", folder_.path());
    point("XDG_DATA_HOME", folder_ / ".local/share");
    point("XDG_CONFIG_HOME", folder_ / ".config");
    point("CLAUDE_CONFIG_DIR", claudeFolder());
    setSettingsPath(folder_ / ".config");
  }
  ~TemporaryHome() {
    for (const auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      if (!value) ::unsetenv(name.c_str());
    }
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    setSettingsPath(config ? std::filesystem::path(config)
                           : std::filesystem::path(home ? home : "") / ".config");
  }
  TemporaryHome(const TemporaryHome&) = delete;
  TemporaryHome& operator=(const TemporaryHome&) = delete;

  const std::filesystem::path& path() const { return folder_.path(); }
  std::filesystem::path claudeFolder() const { return folder_ / "claude"; }

 private:
  void point(const std::string& name, const std::filesystem::path& value) {
    const char* previous = std::getenv(name.c_str());
    saved_.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  // QSettings remembers its folder from first use, so it is told explicitly.
  static void setSettingsPath(const std::filesystem::path& folder) {
    const QString path = QString::fromStdString(folder.string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
  }

  TempDir folder_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace lumacap::test
