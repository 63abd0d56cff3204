#pragma once

#include <filesystem>
#include <string>

#include "core/CodingAgent.h"

namespace lumacap {

// The text pasted into an agent's terminal: the saved image's absolute path as
// a quoted literal, then the user's message, if any.
struct StagingText {
  static std::string make(const std::filesystem::path& file, const std::string& prompt);
  // The text in `style`: Claude Code's sentence; the path alone on the first
  // line (in double quotes when it holds a space or a quote); or "@path"
  // (a space or backslash in it escaped by a backslash); then, after a blank
  // line, the message.
  static std::string make(const std::filesystem::path& file, const std::string& prompt, StagingStyle style);

  // The path between double quotes, with \\ \" \' \0 \t \n \r escaped and
  // other non-printable characters written as \u{hex}.
  static std::string quoted(const std::string& path);
};

}  // namespace lumacap
