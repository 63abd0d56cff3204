#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ProcessSource.h"
#include "platform/RunningApplicationLookup.h"

namespace lumacap {

// On a Wayland desktop a program cannot ask which process owns a window, so a
// process counts as a desktop application when it is a known terminal
// emulator: the nearest such ancestor of a Claude Code session is the window
// it runs in. The identifier is the application id the terminal gives its
// windows on Wayland, which is also how the desktop names it.
class TerminalAncestorLookup final : public RunningApplicationLookup {
 public:
  explicit TerminalAncestorLookup(ProcessSource& processes) : processes_(processes) {}

  std::optional<RunningApplication> application(int32_t pid) override;

  // The application id of a terminal emulator's executable (a command as the
  // kernel names it, which it cuts to 15 bytes, or a path), or nothing.
  static std::optional<std::string> terminalApplicationID(std::string_view executable);

  // Whether the hook runs inside a Wayland session, where the X window list
  // holds at most the windows of X programs.
  static bool inWaylandSession();

 private:
  ProcessSource& processes_;
};

}  // namespace lumacap
