#pragma once

#include <filesystem>
#include <string>

namespace lumacap {

// The text pasted into an agent's terminal: the saved image's absolute path as
// a quoted literal, then the user's message, if any.
struct StagingText {
  static std::string make(const std::filesystem::path& file, const std::string& prompt);

  // The path between double quotes, with \\ \" \' \0 \t \n \r escaped and
  // other non-printable characters written as \u{hex}.
  static std::string quoted(const std::string& path);
};

}  // namespace lumacap
