#pragma once

#include <QCoroTask>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "app/capture/RegionSelector.h"
#include "core/CaptureError.h"
#include "platform/ScreenSource.h"

namespace lumacap {

// The result of a successful capture.
struct CapturedImage {
  QImage image;                            // at the display's pixel density
  std::optional<std::string> application;  // the application the user was in
  // The window the capture shows: the captured one, or the one that fills most
  // of a region or a display; and what a name falls back on when no text is
  // recognised (that window's application, else "display" for a display).
  std::optional<std::string> windowTitle = {};
  std::optional<std::string> nameFallback = {};
  // The display a region or display capture was taken on (where its card goes).
  std::optional<uint32_t> displayID = {};
};

// Turns a capture request into one still image of the screen. The caller
// hides the program's own windows first (the window presenter's
// hideForCapture); no screen pixels are read before the server has taken
// them off the screen, and what a slow window manager still shows of them is
// blanked.
//
// Calling order for one capture: content(), then exactly one of region(),
// display() or window() with that content. Everything runs on the GUI thread;
// the slow parts are awaited, never blocked on.
class CaptureManager final : public QObject {
 public:
  explicit CaptureManager(ScreenSource& source, QObject* parent = nullptr);
  ~CaptureManager() override;

  // The shareable content, after the permission check.
  QCoro::Task<ShareableContent> content();
  // Shows the region overlay and captures what the user selects; nothing
  // when the user pressed Escape.
  QCoro::Task<std::optional<CapturedImage>> region(ShareableContent content,
                                                   std::optional<std::string> application);
  // `rect` is in the display's points with the origin at its top-left corner;
  // none captures the whole display.
  QCoro::Task<CapturedImage> display(ShareableContent content, uint32_t id, std::optional<Rect> rect,
                                     std::optional<std::string> application);
  QCoro::Task<CapturedImage> window(ShareableWindow window);
  // Where the window is chosen in the desktop's own screenshot interface
  // (GNOME): what the user took there; nothing when they cancelled.
  bool desktopChoosesWindow() const { return source_.desktopChoosesWindow(); }
  QCoro::Task<std::optional<CapturedImage>> windowChosenByDesktop();

  // The display number of the screen the user is on: the one the desktop
  // calls active where it says, else the one under the mouse pointer.
  // The desktop's answer is awaited for a moment at most.
  QCoro::Task<uint32_t> pointerDisplay() const;
  uint32_t mainDisplayID() const { return source_.mainDisplayID(); }
  bool isCompositing() const { return source_.isCompositing(); }
  // The screen with this display number, if one is connected.
  QScreen* screen(uint32_t displayID) const;

  // The last region selected within one display, for "the last region
  // again": the one selected on `displayID` when there was one, else the
  // last selected anywhere; its display and its rectangle in the display's
  // points (as display() takes it). Nothing before the first region.
  std::optional<std::pair<uint32_t, Rect>> lastRegion(uint32_t displayID) const;

  // The region overlay while it is on screen, and null otherwise.
  RegionSelector* overlay() const { return overlay_.get(); }
  // The line the overlays opened from now on show above the selection (who
  // asked for the capture and why); empty: none.
  void setBanner(const QString& banner) { banner_ = banner; }
  // Closes the overlay that is up, as Escape would.
  void cancelSelection() { overlay_.reset(); }
  // Where the overlay's `C` puts the colour under the pointer ("#rrggbb").
  std::function<void(const QString&)> colourPicked;
  // The overlay on the desktop's overlay layer (wlroots desktops), where a
  // full-screen window may never appear beside another one.
  bool overlayLayer = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QCoro::Task<std::vector<PixelRect>> awaitOwnWindowsGone();
  uint32_t displayUnderPointer() const;
  // With `picturesToCome`, the overlay opens without its screens' pictures,
  // which showPictures() gives it once they are in.
  QCoro::Task<std::optional<RegionSelection>> selectRegion(std::vector<OverlayScreen> screens,
                                                           bool picturesToCome = false);

  ScreenSource& source_;
  std::unique_ptr<RegionSelector> overlay_;
  QString banner_;
  std::chrono::steady_clock::time_point lastHide_{};
  // The native windows of ours hidden since the last capture, whoever hid
  // them (the window presenter hides them before the capture starts):
  // each capture waits until the server has taken them down.
  std::set<uint32_t> hiddenSinceCapture_;
  std::map<uint32_t, Rect> lastRegions_;
  std::optional<uint32_t> lastRegionDisplay_;
};

}  // namespace lumacap
