#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QPromise>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/CaptureError.h"
#include "core/ScreenshotPermission.h"
#include "platform/PermissionWindow.h"
#include "platform/wayland/PortalRequest.h"
#include "platform/wayland/WaylandScreenSource.h"

namespace lumacap {

class XdgForeignExport;

// What the Response of a Screenshot request means: the URI of the file the
// portal wrote (CaptureFileReader::takePortalScreenshot reads it), or why
// there is none. The answer came `answeredAfter` the request.
struct PortalScreenshotAnswer {
  QString uri;                              // as the portal gave it; empty without a screenshot
  std::optional<CaptureErrorKind> failure;  // none on success
};
// Code 0: success with a "uri"; 1: cancelled; 2: refused or failed, or busy
// when it came at once (see portalWasBusy).
PortalScreenshotAnswer screenshotAnswer(uint code, const QVariantMap& results,
                                        std::chrono::milliseconds answeredAfter);

// Takes one screenshot of the whole desktop through
// org.freedesktop.portal.Screenshot (interactive=false), holding the calling
// worker thread (never the GUI thread): waits for the Response signal, reads
// the PNG and deletes the portal's file when it is the one made for this
// request (xdg-desktop-portal-wlr writes every screenshot to /tmp/out.png, so
// it is read at once). Failures are CaptureErrors of the portal's kinds. Asks the portal on `bus`.
QImage takePortalScreenshot(QDBusConnection bus);
// One such request whose parent_window is `parentWindow` ("wayland:<handle>"):
// whether the portal gave a screenshot (its file is cleared away the same way).
bool portalTakesScreenshot(const QString& parentWindow);
// The same with the desktop's own screenshot interface (interactive=true),
// where the user may choose a window: a null image when they cancelled.
QImage takeInteractivePortalScreenshot();

// Whether the portal's "no" meant it was busy with another screenshot (and
// asking again shortly will do) rather than a refusal.
bool portalWasBusy(uint code, std::chrono::milliseconds answeredAfter);

// GNOME's one-time question whether Lumacap may take screenshots: what the
// portal's permission store holds for Lumacap, and one portal request that
// makes GNOME ask.
struct ScreenshotQuestion {
  // The application id the portal knows Lumacap by (it may change once, when Lumacap names its
  // own id to the portal).
  std::function<std::string()> applicationID;
  // The stored answer; none when the store cannot be read (or did not answer
  // in time). Runs on a worker thread.
  std::function<std::optional<ScreenshotPermission>()> stored;
  // Runs on a worker thread (see portalTakesScreenshot).
  std::function<bool(const QString& parentWindow)> ask;

  // The real ones, for this process (the store on this bus).
  static ScreenshotQuestion ofPortal(QDBusConnection bus = QDBusConnection::sessionBus());
};

// The whole desktop through the portal, one screenshot per capture: every
// output the capture reads is cut from it (one round trip, one shutter sound,
// one moment for all outputs). An output asked for a second time, or after a
// new capture began, takes a new screenshot.
class PortalDesktopShots {
 public:
  // A new capture begins (GUI thread).
  void newCapture() { shot_.reset(); }
  // `source` of `output`, cut from the capture's screenshot (taken on a
  // worker when this is its first output). GUI thread.
  QFuture<QImage> outputImage(const WaylandOutput& output, const PixelRect& source,
                              const std::vector<WaylandOutput>& layout);

 private:
  struct Shot;
  std::shared_ptr<Shot> shot_;
};

// The screen through the desktop's Screenshot portal: GNOME, and the fallback
// on every other desktop. The portal hands over the whole desktop; each
// output's part is cut from it.
class PortalScreenshotSource final : public WaylandScreenSource {
 public:
  PortalScreenshotSource();
  // On GNOME: before the first capture, GNOME's question is asked in front of
  // `window`, and a stored refusal is explained.
  PortalScreenshotSource(PermissionWindow& window, ScreenshotQuestion question);
  ~PortalScreenshotSource() override;

  bool canRecordScreen() override;
  QFuture<bool> requestScreenRecording() override;

  // The portal's interactive screenshot offers window capture (GNOME's
  // interface has a Window button) where no window list exists.
  bool desktopChoosesWindow() override { return true; }
  QFuture<QImage> windowChosenByDesktop() override;
  // Our windows are hidden: the capture that follows takes one screenshot.
  void synchronize() override;

 protected:
  QFuture<QImage> outputImage(const WaylandOutput& output, const PixelRect& source,
                              const std::vector<WaylandOutput>& layout) override;

 private:
  // Settles `granted` from the stored answer, asking GNOME's question when none is stored.
  void askUnlessStored(std::optional<ScreenshotPermission> stored, std::shared_ptr<QPromise<bool>> granted);

  PermissionWindow* window_ = nullptr;
  ScreenshotQuestion question_;
  // The window the question's dialog is attached to, while it is asked.
  std::unique_ptr<XdgForeignExport> parent_;
  // Where the answer to the question comes back: the GUI thread.
  std::unique_ptr<QObject> answers_;
  PortalDesktopShots shots_;
};

// The part of a whole-desktop screenshot that shows `source` of `output`,
// at the output's density.
QImage outputPartOf(const QImage& desktop, const std::vector<WaylandOutput>& layout,
                    const WaylandOutput& output, const PixelRect& source);

}  // namespace lumacap
