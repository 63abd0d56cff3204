#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/CodingAgent.h"
#include "core/HookEvents.h"

namespace lumacap {

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
  static constexpr const auto& events = hookEvents;

  // The settings file's new bytes, with this program's hook added to the end
  // of each of the four events (install) or taken out of them (remove).
  // Every other setting comes out with the same value and in the same place;
  // an event (or "hooks") that a removal leaves empty is taken out, so
  // installing and then removing gives back the file's settings. Nothing
  // when the file
  // already is that way. `existing` is absent when there is no settings
  // file. Throws FileError naming "settings.json" for text that is not JSON
  // or a hook structure of the wrong shape, and HookCommandError for a path
  // that is not UTF-8.
  static std::optional<std::string> merging(const std::optional<std::string>& existing,
                                            const std::filesystem::path& executable, bool install);
  // The same for `agent`'s hooks file, in the shape and with the events that
  // agent reads; where the agent keeps a list of folders it may read,
  // `readableFolder` is added to it too (and taken out by a removal). The
  // error names the agent's file.
  static std::optional<std::string> merging(const std::optional<std::string>& existing,
                                            const std::filesystem::path& executable, bool install,
                                            const CodingAgent& agent,
                                            const std::optional<std::string>& readableFolder = std::nullopt);

  // The shell command that runs `executable` as a hook: the path in single
  // quotes (a quote inside becomes '\'') followed by " --claude-hook".
  static std::string hookCommand(const std::filesystem::path& executable);

  // Reads JSON text, keeping the order of each object's keys. Numbers that
  // are not 64-bit integers, and -0, keep their exact text: they are held as
  // binary values holding that text, so a number such as 1e2, -0 or
  // 123456789012345678901234567890 is written back as it was read. Throws
  // FileError, for a NUL byte anywhere too (a reader stopping there would
  // lose what follows).
  static nlohmann::ordered_json parse(std::string_view bytes);

  // Writes `value` pretty-printed with its keys in their order, numbers held
  // by parse() as their original text, and a final line feed.
  static std::string serialise(const nlohmann::ordered_json& value);

  // Deeper nesting is refused as unreadable rather than risking the stack.
  static constexpr size_t maximumDepth = 512;
};

}  // namespace lumacap
