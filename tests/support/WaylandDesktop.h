#pragma once

#include <sys/types.h>
#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <chrono>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/Subprocess.h"

namespace lumacap::test {

enum class Compositor { kwin, gnome, sway, labwc };

struct DesktopWindow {
  std::string title, app;
  int pid = 0;
  bool focused = false;
  QRect geometry;
  std::string transientFor;  // the title of the window it is attached to (GNOME only)
  bool floating = true;      // not tiled (sway tells; KWin, GNOME and labwc tile no window)
};

// A real Wayland desktop for end-to-end tests, headless, started as root; the desktop and every program
// in it run as an ordinary user. On KWin, ScreenShot2 is lent only as KWin itself decides: to the
// programs installed desktop entries name (this harness and the build's Lumacap, whose entries are in
// folder()/share, and what a test installs under the prefix folder()/usr; both in XDG_DATA_DIRS).
class WaylandDesktop {
 public:
  // One headless desktop with two 1280×800 outputs side by side (global layout 0,0 and 1280,0), its own
  // session bus (GNOME: also a private system bus with a mocked logind), portals, a notification server
  // and input injection. Null with the reason in `whyNot` when it cannot run here (tests then GTEST_SKIP,
  // except under CI=true where a missing desktop is a failure).
  static std::unique_ptr<WaylandDesktop> start(Compositor compositor, std::string* whyNot);
  ~WaylandDesktop();  // stops every process it started, removes its folder
  WaylandDesktop(const WaylandDesktop&) = delete;
  WaylandDesktop& operator=(const WaylandDesktop&) = delete;

  Compositor compositor() const;
  // What a client of this desktop needs: WAYLAND_DISPLAY, XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS,
  // HOME, XDG_CURRENT_DESKTOP, XDG_SESSION_TYPE=wayland, XDG_DATA_HOME…; DISPLAY removed (spawn and
  // run unset DISPLAY and QT_QPA_PLATFORM unless `extra` sets them).
  std::map<std::string, std::string> environment() const;
  // The user the session runs as.
  uid_t user() const;
  // A program inside the session (as the session's user), stopped with the desktop at the latest.
  std::unique_ptr<BackgroundProcess> spawn(const std::vector<std::string>& argv,
                                           const std::map<std::string, std::string>& extra = {});
  ProcessResult run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout = 10s);
  // Input, in global layout coordinates.
  void move(int x, int y);
  void press();
  void release();
  void click(int x, int y);
  void drag(QPoint from, QPoint to);                  // press, a few intermediate moves, release
  void key(const std::string& chord);                 // "Escape", "Return", "shift+super+2"
  std::vector<DesktopWindow> windows();               // stacking/focus as the desktop reports it
  std::vector<std::string> shellDialogs();            // GNOME Shell's own modal dialogs: their texts
  QImage reference(QRect area);                       // the same area captured by the desktop's own path
  QByteArray clipboard(const std::string& mimeType);  // wl-paste --no-newline --type …; empty when none
  std::vector<std::string> notifications();           // summaries/bodies the notification server received

  // KWin: whether the desktop entry naming the build's Lumacap is installed (it is from the start).
  void setBuildEntryInstalled(bool installed);

  // Why neither Lumacap nor reference() can have the screen's pixels here; empty when they can.
  const std::string& noScreenshots() const;

  // The folder the desktop lives in (logs/ holds each process's output).
  std::string folder() const;
  int compositorPid() const;  // the compositor's process (for tests that stop it a while)
  // What a process from spawn() wrote so far (standard output and error).
  std::string output(const BackgroundProcess& process) const;

 private:
  struct State;
  explicit WaylandDesktop(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// While it lives, this process (every thread) runs as the session's user, as a client of the session
// does: what it hands the desktop (the script file Lumacap writes for KWin, 0600) is the user's.
// Programs it runs meanwhile start as that user directly.
class AsSessionUser {
 public:
  explicit AsSessionUser(const WaylandDesktop& desktop);
  ~AsSessionUser();
  AsSessionUser(const AsSessionUser&) = delete;
  AsSessionUser& operator=(const AsSessionUser&) = delete;
};

// The name used in test names and messages: "kwin", "gnome", "sway", "labwc".
std::string nameOf(Compositor compositor);
inline void PrintTo(Compositor compositor, std::ostream* stream) { *stream << nameOf(compositor); }

}  // namespace lumacap::test
