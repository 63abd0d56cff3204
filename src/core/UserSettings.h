#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lumacap {

// The settings file the application keeps through QSettings, read by the
// roles that run without Qt: an INI file whose plain keys sit in its
// [General] section, booleans written "true" and "false".
struct UserSettings {
  // Whether coding agents may read captures through `lumacap mcp`; on unless turned off.
  static constexpr const char* agentsMayReadCapturesKey = "agentsMayReadCaptures";

  // $XDG_CONFIG_HOME/Lumacap/Lumacap.conf, else ~/.config/Lumacap/Lumacap.conf.
  static std::filesystem::path file();

  // The text of `key` in the [General] section of `ini`; nothing when absent.
  static std::optional<std::string> generalValue(std::string_view ini, std::string_view key);

  // Whether agents may read captures, from the settings file. A file that
  // cannot be read safely (a special file, or too large) turns
  // reading off: the user's choice cannot be known.
  static bool agentsMayReadCaptures();
};

}  // namespace lumacap
