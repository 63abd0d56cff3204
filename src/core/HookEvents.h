#pragma once

#include <array>
#include <string_view>

namespace lumacap {

// The Claude Code hook events this program listens to, in the order the
// installer edits them.
inline constexpr std::array<std::string_view, 4> hookEvents = {"SessionStart", "SessionEnd",
                                                               "UserPromptSubmit", "Stop"};

}  // namespace lumacap
