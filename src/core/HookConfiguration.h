#pragma once

#include <array>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lumacap {

// Claude Code's settings file holds text that is not JSON. The message names
// the file and the parser's own description of what is wrong, on one line.
class SettingsParseError : public std::runtime_error {
 public:
  explicit SettingsParseError(const std::string& detail, const std::string& file = "settings.json");
  const std::string& detail() const { return detail_; }

 private:
  std::string detail_;
};

// This executable's path cannot be written into a JSON string (JSON text is
// Unicode; the path's bytes are not UTF-8).
class HookCommandError : public std::runtime_error {
 public:
  HookCommandError();
};

// The hook entries this program keeps in Claude Code's settings file, as a
// pure transformation of the file's bytes.
class HookConfiguration {
 public:
  // The events this program listens to, in the order they are edited.
  static constexpr std::array<std::string_view, 4> events = {"SessionStart", "SessionEnd", "UserPromptSubmit",
                                                             "Stop"};

  // The settings file's new bytes, with this program's hook added to each of
  // the four events (install) or taken out of them (remove). Every other
  // setting comes out with the same value. `existing` is absent when there is
  // no settings file. Throws SettingsParseError for text that is not JSON,
  // StoreError(invalidIndex) when the hook structure has the wrong shape, and
  // HookCommandError for a path that is not UTF-8.
  static std::string merging(const std::optional<std::string>& existing,
                             const std::filesystem::path& executable, bool install);

  // The shell command that runs `executable` as a hook: the path in single
  // quotes (a quote inside becomes '\'') followed by " --claude-hook".
  static std::string hookCommand(const std::filesystem::path& executable);

  // Reads JSON text. Numbers that are not 64-bit integers keep their exact
  // text: they are held as binary values holding that text, so a number such
  // as 1e2 or 123456789012345678901234567890 is written back as it was read.
  // Throws SettingsParseError.
  static nlohmann::json parse(std::string_view bytes);

  // Writes `value` pretty-printed with sorted keys, numbers held by parse()
  // as their original text, and a final line feed.
  static std::string serialise(const nlohmann::json& value);

  // Deeper nesting is refused as unreadable rather than risking the stack.
  static constexpr size_t maximumDepth = 512;
};

}  // namespace lumacap
