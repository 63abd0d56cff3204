#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ScopedEnvironment.h"
#include "support/Subprocess.h"

namespace lumacap::test {

// A real X server for integration tests: a 1280 × 800 Xvfb (or `screen`,
// Xvfb's WIDTHxHEIGHTxDEPTH) on a free display with the openbox window
// manager and the trayer system tray. Sets $DISPLAY
// for the test process (and so for its children) while it lives; everything
// it started is stopped when it goes.
class XServer {
 public:
  explicit XServer(const std::string& screen = "1280x800x24");
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  const std::string& display() const { return display_; }

  // Starts a client (xterm, …) that is stopped with the server.
  BackgroundProcess& start(const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment = {});

  // The id of the first visible window whose WM_CLASS class is `windowClass`
  // and, when given, whose _NET_WM_PID is `pid`; waits up to 10 s.
  std::optional<unsigned long> waitForWindow(const std::string& windowClass,
                                             std::optional<int> pid = {}) const;
  // The visible windows titled exactly `title`, and the first of them once
  // there is one (waiting up to 10 s).
  std::vector<unsigned long> windowsNamed(const std::string& title) const;
  std::optional<unsigned long> waitForWindowNamed(const std::string& title) const;
  // _NET_ACTIVE_WINDOW of the root window, if any.
  std::optional<unsigned long> activeWindow() const;
  // Runs xdotool with these arguments; whether it succeeded.
  bool xdotool(std::vector<std::string> arguments) const;
  // Clicks the left button with the real pointer at a point of the root.
  bool click(int x, int y) const {
    return xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
  }

  // A window's client area on the root, in device pixels.
  struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
  };
  Geometry geometry(unsigned long window) const;

  // The window manager's process (tests pause it to play a slow one).
  int windowManagerPid() const { return windowManager_->pid(); }

  // The system tray, taken away and brought back for tests of a desktop
  // without one or with one that starts late. Starting waits until it shows.
  void startSystemTray();
  void stopSystemTray();

 private:
  // They go in the reverse order: the clients, the server, then $DISPLAY.
  std::string display_;
  ScopedEnvironment environment_;
  std::unique_ptr<BackgroundProcess> server_;
  std::vector<std::unique_ptr<BackgroundProcess>> clients_;
  BackgroundProcess* tray_ = nullptr;
  BackgroundProcess* windowManager_ = nullptr;
};

}  // namespace lumacap::test
