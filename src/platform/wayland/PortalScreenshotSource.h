#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QImage>
#include <QObject>
#include <QPromise>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/ScreenshotPermission.h"
#include "platform/PermissionWindow.h"
#include "platform/wayland/WaylandScreenSource.h"

namespace lumacap {

class XdgForeignExport;

// The URI of the file the portal wrote for a successful Screenshot request
// (CaptureFileReader::takePortalScreenshot reads it), or the sentence the user
// sees when it was refused or cancelled.
struct PortalScreenshotAnswer {
  QString uri;        // as the portal gave it; empty when refused
  std::string error;  // empty on success
};
// Reads the Response signal of a Screenshot request (code 0: success with a
// "uri"; 1: cancelled; 2: refused or failed).
PortalScreenshotAnswer screenshotAnswer(uint code, const QVariantMap& results);

// The object path of the Request a portal call with this handle token
// answers on, for the connection with this unique name (":1.42").
QString portalRequestPath(const QString& uniqueName, const QString& token);

// What one portal request came to: the call's reply (an error message when
// the portal refused the call itself) and its Response, if one came in time.
struct PortalRequest {
  QDBusMessage reply;
  bool answered = false;
  uint code = 2;
  QVariantMap results;
};
// One request to the desktop portal: `method` of `interface` with a fresh
// handle token added to its options (the last argument), then the request's
// Response signal, awaited up to `timeout` in all (the call itself, which
// answers at once with the request's handle, for ten seconds at most). Never
// blocks: a portal that does not answer leaves `answered` false, or the reply
// an error.
QCoro::Task<PortalRequest> requestFromPortal(QDBusConnection bus, QString interface, QString method,
                                             QList<QVariant> arguments, std::chrono::milliseconds timeout);
// The same request on a worker thread, which it holds until the request ends
// (throws std::logic_error on the GUI thread).
PortalRequest requestFromPortalOnWorker(QDBusConnection bus, const QString& interface, const QString& method,
                                        QList<QVariant> arguments, std::chrono::milliseconds timeout);

// Takes one screenshot of the whole desktop through
// org.freedesktop.portal.Screenshot (interactive=false), blocking the
// calling thread (never the GUI thread): waits for the Response signal, reads
// the PNG and deletes the portal's file when it is the one made for this
// request (xdg-desktop-portal-wlr writes every screenshot to /tmp/out.png, so
// it is read at once).
QImage takePortalScreenshot();
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
  // The application id the portal knows Lumacap by.
  std::string applicationID;
  // The stored answer; none when the store cannot be read (or did not answer
  // in time). Runs on a worker thread.
  std::function<std::optional<ScreenshotPermission>()> stored;
  // Runs on a worker thread (see portalTakesScreenshot).
  std::function<bool(const QString& parentWindow)> ask;

  // The real ones, for this process (the store on this bus).
  static ScreenshotQuestion ofPortal(QDBusConnection bus = QDBusConnection::sessionBus());
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
};

// The part of a whole-desktop screenshot that shows `source` of `output`,
// at the output's density.
QImage outputPartOf(const QImage& desktop, const std::vector<WaylandOutput>& layout,
                    const WaylandOutput& output, const PixelRect& source);

namespace detail {
// Receives one portal Response in the thread that waits for it.
class PortalResponse final : public QObject {
  Q_OBJECT
 public:
  bool answered = false;
  uint code = 2;
  QVariantMap results;
 public slots:
  void response(uint code, const QVariantMap& results);
 signals:
  void done();
};
}  // namespace detail

}  // namespace lumacap
