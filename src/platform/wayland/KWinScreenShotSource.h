#pragma once

#include <QImage>
#include <QVariantMap>
#include <atomic>
#include <memory>
#include <stdexcept>

#include "platform/wayland/PortalScreenshotSource.h"
#include "platform/wayland/WaylandScreenSource.h"

namespace lumacap {

// KWin's name on the session bus.
inline const QString kwinService = QStringLiteral("org.kde.KWin");

// The screen of KDE Plasma through KWin's org.kde.KWin.ScreenShot2: the
// pixels of one output at its full density (native-resolution), handed over
// raw through a pipe that is read off the GUI thread.
//
// KWin serves that interface only to a program whose installed desktop entry
// names its executable (an absolute Exec equal to /proc/PID/exe) and lists
// org.kde.KWin.ScreenShot2 under X-KDE-DBUS-Restricted-Interfaces. When KWin
// refuses (Lumacap not installed that way), captures go through the
// Screenshot portal instead, and the reason is logged once.
class KWinScreenShotSource final : public WaylandScreenSource {
 public:
  KWinScreenShotSource();
  ~KWinScreenShotSource() override;

  struct Shared;
  struct Workspace;
  // Our windows are hidden: a capture through the portal takes one screenshot.
  void synchronize() override;
  // Outputs asked for together are cut from one capture of the whole workspace.
  void expectDisplays(size_t count) override;
  // KWin paints its screenshots itself: a transparent overlay mapped meanwhile is not in them.
  bool overlayMayPrecedePictures() override;
  // Asks KWin, on a worker, whether it lends this program its interface (a capture of no output:
  // KWin checks the caller first); the reason it does not, once it refuses.
  QFuture<std::optional<std::string>> captureLimit() override;

 protected:
  QFuture<QImage> outputImage(const WaylandOutput& output, const PixelRect& source,
                              const std::vector<WaylandOutput>& layout) override;

 private:
  std::shared_ptr<Shared> shared_;
  std::shared_ptr<Workspace> workspace_;  // of the capture under way, when it asked for several
  // Once KWin refused: the portal's screenshots.
  PortalDesktopShots portalShots_;
};

// KWin did not authorise this program to use org.kde.KWin.ScreenShot2.
struct KWinNotAuthorized : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One capture through org.kde.KWin.ScreenShot2 (CaptureScreen, CaptureWindow…)
// with these arguments before the pipe KWin writes the raw pixels into;
// holds the calling worker thread, never the GUI thread. Throws
// KWinNotAuthorized when KWin refuses this program, a CaptureError for any
// other refusal.
QImage kwinScreenShot2(const QString& method, const QVariantList& arguments);

// The raw pixels KWin wrote into the pipe as an image, from the results of
// its reply ("type" raw, "width", "height", "stride", "format" as a
// QImage::Format). Throws a CaptureError when they do not add up.
QImage kwinRawImage(const QVariantMap& results, const QByteArray& pixels);

}  // namespace lumacap
