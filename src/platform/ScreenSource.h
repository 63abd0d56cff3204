#pragma once

#include <QFuture>
#include <QImage>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ScreenGeometry.h"
#include "platform/ReadyFuture.h"

class QScreen;
class QWindow;

namespace lumacap {

// One display that can be captured.
struct ShareableDisplay {
  uint32_t displayID = 0;  // the display number (see ScreenSource::displayNumber)
  std::string name;        // the name the desktop gives the screen ("HDMI-1")
  Rect frame;              // in global points
  double scale = 1;        // device pixels per point
  bool operator==(const ShareableDisplay&) const = default;
};

// The application a window belongs to.
struct OwningApplication {
  int32_t pid = 0;
  std::string applicationName;
  bool operator==(const OwningApplication&) const = default;
};

// One on-screen window that can be captured.
struct ShareableWindow {
  uint32_t windowID = 0;
  std::optional<std::string> title;
  Rect frame;  // in global points
  std::optional<OwningApplication> owningApplication;
  int layer = 0;     // 0 for ordinary application windows
  double scale = 1;  // device pixels per point of the display it lies on
  bool operator==(const ShareableWindow&) const = default;
};

// What can be captured right now: displays in the desktop's order, windows
// front-most first.
struct ShareableContent {
  std::vector<ShareableDisplay> displays;
  std::vector<ShareableWindow> windows;
  bool operator==(const ShareableContent&) const = default;
};

// The desktop's screen-capture service. The queries that may take a while
// answer through futures; their work never runs on the GUI thread. Every
// other call is made on the GUI thread.
class ScreenSource {
 public:
  virtual ~ScreenSource() = default;

  // Whether this process may read the screen, without asking anyone.
  virtual bool canRecordScreen() = 0;
  // Asks for access (where the desktop has a prompt); whether it was granted.
  // The answer may wait for the user; a refusal the desktop explains comes
  // as the future's error.
  virtual QFuture<bool> requestScreenRecording() = 0;

  // The displays and the visible windows, desktop windows left out.
  virtual QFuture<ShareableContent> shareableContent() = 0;
  // The pixels of `source` (device pixels, origin at the display's top-left).
  virtual QFuture<QImage> displayImage(const ShareableDisplay& display, const PixelRect& source) = 0;
  // The pixels of one window alone, in device pixels, without decoration,
  // shadow or cursor.
  virtual QFuture<QImage> windowImage(const ShareableWindow& window) = 0;
  // Whether a window is chosen in the desktop's own screenshot interface
  // rather than from `shareableContent` (GNOME lists no windows to programs).
  virtual bool desktopChoosesWindow() { return false; }
  // What the user took in that interface, in device pixels; a null image
  // when they cancelled it.
  virtual QFuture<QImage> windowChosenByDesktop() { return readyFuture(QImage()); }

  // The display number of a screen, when the desktop knows the screen.
  virtual std::optional<uint32_t> displayNumber(const QScreen& screen) = 0;
  // The display number of the main display.
  virtual uint32_t mainDisplayID() = 0;
  // The display the desktop treats as the user's current one, where it tells
  // programs; nothing where the pointer's position says it instead (a Wayland
  // client learns the pointer's position only over its own windows). The
  // desktop is asked on a worker.
  virtual QFuture<std::optional<uint32_t>> activeDisplay() { return readyFuture(std::optional<uint32_t>()); }
  // Asks the desktop to give this process's window, just shown, the keyboard
  // where it does not give a new window the keyboard by itself (KWin, for a
  // window no activation token came with); returns at once.
  virtual void giveKeyboardTo(const QWindow&) {}
  // Returns once the display server has carried out every request this
  // process's windows have sent (so a hidden window is off the screen).
  virtual void synchronize() = 0;
  // The next `count` displayImage calls, made together, are one capture's (the region overlay
  // freezes every display): a source that serves several displays in one go may. Until the next
  // synchronize().
  virtual void expectDisplays(size_t count) { (void)count; }
  // Whether the region overlay may open before the pictures of the displays have arrived, as
  // windows that take the pointer and the keys but show nothing yet: the desktop paints those
  // pictures itself, and a window drawing nothing leaves them as they are. Where the pictures
  // are read off the screen as it is shown (X11), the overlay opens on them once they are in.
  virtual bool overlayMayPrecedePictures() { return false; }
  // Waits, off the GUI thread and for a moment at most, until these hidden
  // windows of this process (native window ids) and the frames a window
  // manager drew around them are off the screen. Answers the areas (device
  // pixels of the whole screen) of those still showing at the deadline: a
  // paused or slow window manager has not taken them down yet.
  virtual QFuture<std::vector<PixelRect>> stillShowing(std::vector<uint32_t> windows) = 0;
  // Whether a compositing manager draws the screen: windows may then be
  // translucent, and take a moment to leave the screen once hidden.
  virtual bool isCompositing() = 0;
  // What keeps captures from the desktop's own way, for Settings: found out off the GUI thread
  // (the desktop may refuse this program); nothing where captures take it.
  virtual QFuture<std::optional<std::string>> captureLimit() {
    return readyFuture(std::optional<std::string>());
  }
};

}  // namespace lumacap
