#include "platform/wayland/PortalScreenshotSource.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QFutureWatcher>
#include <QPromise>
#include <QThread>
#include <QtConcurrent/QtConcurrent>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>

#include "core/CaptureError.h"
#include "core/ProgramError.h"
#include "platform/CaptureFileReader.h"
#include "platform/ReadyFuture.h"
#include "platform/linux/DBusCall.h"
#include "platform/wayland/PortalApplicationId.h"
#include "platform/wayland/XdgForeignExport.h"

namespace lumacap {
namespace {

const QString screenshotInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
// A first screenshot may wait for the user to allow it.
constexpr auto screenshotAnswerTimeout = std::chrono::minutes(2);

}  // namespace

bool portalWasBusy(uint code, std::chrono::milliseconds answeredAfter) {
  // GNOME Shell takes one screenshot at a time and answers the others at
  // once with "other" (2); a person who refuses in the desktop's dialog
  // takes longer than that.
  return code == 2 && answeredAfter < std::chrono::milliseconds(500);
}

PortalScreenshotAnswer screenshotAnswer(uint code, const QVariantMap& results,
                                        std::chrono::milliseconds answeredAfter) {
  using Kind = CaptureErrorKind;
  if (code == 0) return {results.value(QStringLiteral("uri")).toString(), std::nullopt};
  if (code == 1) return {{}, Kind::portalCancelled};
  return {{}, portalWasBusy(code, answeredAfter) ? Kind::portalBusy : Kind::portalRefused};
}

namespace {

PortalRequest askPortalForScreenshot(QDBusConnection& bus, bool interactive, const QString& parentWindow) {
  PortalRequest request = requestFromPortalOnWorker(
      bus, screenshotInterface, QStringLiteral("Screenshot"),
      {parentWindow,
       QVariantMap{{QStringLiteral("interactive"), interactive}, {QStringLiteral("modal"), false}}},
      screenshotAnswerTimeout);
  if (request.callFailed()) {
    std::fprintf(stderr, "lumacap: the Screenshot portal refused the call: %s\n",
                 qPrintable(request.reply.errorMessage()));
    throw CaptureError(CaptureError::Kind::portalUnavailable);
  }
  if (!request.answered) throw CaptureError(CaptureError::Kind::portalNoAnswer);
  return request;
}

// A screenshot another program (or a capture just before) still has in
// progress is waited for, up to two seconds.
PortalScreenshotAnswer portalScreenshot(QDBusConnection bus, bool interactive, const QString& parentWindow) {
  if (!bus.isConnected()) throw CaptureError(CaptureError::Kind::noSessionBus);
  for (int attempt = 0;; ++attempt) {
    const auto asked = std::chrono::steady_clock::now();
    const PortalRequest request = askPortalForScreenshot(bus, interactive, parentWindow);
    const auto after =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    PortalScreenshotAnswer answer = screenshotAnswer(request.code, request.results, after);
    if (answer.failure != CaptureError::Kind::portalBusy || attempt == 10) return answer;
    QThread::msleep(200);
  }
}

QImage screenshotThroughPortal(QDBusConnection bus, bool interactive) {
  const timespec requested = CaptureFileReader::fileClockNow();
  const PortalScreenshotAnswer answer = portalScreenshot(std::move(bus), interactive, QString());
  if (answer.failure == CaptureError::Kind::portalCancelled) {
    // The user closed the desktop's interface: no window chosen.
    if (interactive) return {};
    // Nobody was shown anything to cancel: the desktop could not take it (KDE's portal where KWin
    // has no screenshot effect).
    throw CaptureError(CaptureError::Kind::portalGaveNoImage);
  }
  if (answer.failure) throw CaptureError(*answer.failure);
  return CaptureFileReader::takePortalScreenshot({answer.uri, requested, CaptureFileReader::portalFolders()})
      .convertToFormat(QImage::Format_RGB32);
}

}  // namespace

QImage takePortalScreenshot(QDBusConnection bus) { return screenshotThroughPortal(std::move(bus), false); }

QImage takeInteractivePortalScreenshot() {
  return screenshotThroughPortal(QDBusConnection::sessionBus(), true);
}

bool portalTakesScreenshot(const QString& parentWindow) {
  const timespec requested = CaptureFileReader::fileClockNow();
  const PortalScreenshotAnswer answer = portalScreenshot(QDBusConnection::sessionBus(), false, parentWindow);
  if (answer.failure) return false;
  try {  // the answer is what counts: its screenshot is only cleared away
    CaptureFileReader::takePortalScreenshot({answer.uri, requested, CaptureFileReader::portalFolders()});
  } catch (const CaptureError&) {
  }
  return true;
}

namespace {

const QString permissionStoreService = QStringLiteral("org.freedesktop.impl.portal.PermissionStore");

// PermissionStore.Lookup("screenshot", "screenshot"): the values by
// application id. The table does not exist before the first answer.
// Holds the calling thread (a worker) for DBusCall::serviceAnswer at most.
std::optional<ScreenshotPermission> storedScreenshotPermission(QDBusConnection bus,
                                                               const std::string& applicationID) {
  QDBusMessage lookup = QDBusMessage::createMethodCall(
      permissionStoreService, QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
      permissionStoreService, QStringLiteral("Lookup"));
  lookup << QStringLiteral("screenshot") << QStringLiteral("screenshot");
  const QDBusMessage reply = DBusCall::waited(bus, lookup, DBusCall::serviceAnswer);
  if (reply.type() == QDBusMessage::ErrorMessage) {
    if (reply.errorName() == QLatin1String("org.freedesktop.portal.Error.NotFound"))
      return ScreenshotPermission::unset;
    return std::nullopt;
  }
  if (reply.arguments().isEmpty()) return std::nullopt;
  const auto permissions = qdbus_cast<QMap<QString, QStringList>>(reply.arguments().constFirst());
  std::vector<std::string> values;
  for (const QString& value : permissions.value(QString::fromStdString(applicationID)))
    values.push_back(value.toStdString());
  return screenshotPermissionOf(values);
}

}  // namespace

ScreenshotQuestion ScreenshotQuestion::ofPortal(QDBusConnection bus) {
  return {[bus] { return portalApplicationIdOf(bus); },
          [bus] { return storedScreenshotPermission(bus, portalApplicationIdOf(bus)); },
          portalTakesScreenshot};
}

QImage outputPartOf(const QImage& desktop, const std::vector<WaylandOutput>& layout,
                    const WaylandOutput& output, const PixelRect& source) {
  const auto inPoints = [](const QRect& frame) {
    return Rect{double(frame.x()), double(frame.y()), double(frame.width()), double(frame.height())};
  };
  std::vector<Rect> frames;
  for (const WaylandOutput& each : layout) frames.push_back(inPoints(each.frame));
  const PixelRect cut = geometry::desktopImageArea(frames, {desktop.width(), desktop.height()},
                                                   inPoints(output.frame), output.scale, source);
  const QRect area(cut.x, cut.y, cut.width, cut.height);
  if (area.isEmpty() || !desktop.rect().contains(area)) {
    throw CaptureError(CaptureError::Kind::desktopImageTooSmall);
  }
  QImage part = desktop.copy(area);
  if (part.width() != source.width || part.height() != source.height) {
    part = part.scaled(source.width, source.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  return part;
}

PortalScreenshotSource::PortalScreenshotSource() = default;

PortalScreenshotSource::PortalScreenshotSource(PermissionWindow& window, ScreenshotQuestion question)
    : window_(&window), question_(std::move(question)), answers_(std::make_unique<QObject>()) {}

// On GNOME the store is read before each capture (the user may have changed
// the answer in the desktop's settings), on a worker: see requestScreenRecording.
bool PortalScreenshotSource::canRecordScreen() { return !window_; }

// The store's answer is read on a worker (the store may be slow or stopped:
// its call is bounded); a store that cannot be read leaves the question to the
// portal, as before. GNOME shows its question for the first request and
// waits: that request is made in front of Lumacap's window, with its dialog
// attached to the window. Its screenshot shows the window, so the capture
// takes its own.
QFuture<bool> PortalScreenshotSource::requestScreenRecording() {
  if (!window_) return readyFuture(true);
  // The answers come back to the GUI thread, which then settles the promise.
  auto granted = std::make_shared<QPromise<bool>>();
  granted->start();
  auto* lookup = new QFutureWatcher<std::optional<ScreenshotPermission>>(answers_.get());
  QObject::connect(lookup, &QFutureWatcher<std::optional<ScreenshotPermission>>::finished, answers_.get(),
                   [this, lookup, granted] {
                     lookup->deleteLater();
                     askUnlessStored(lookup->future().result(), granted);
                   });
  lookup->setFuture(QtConcurrent::run([stored = question_.stored] { return stored(); }));
  return granted->future();
}

void PortalScreenshotSource::askUnlessStored(std::optional<ScreenshotPermission> stored,
                                             std::shared_ptr<QPromise<bool>> granted) {
  const CaptureError refused = CaptureError::refusedOnGnome(question_.applicationID());
  if (stored && *stored != ScreenshotPermission::unset) {
    if (*stored == ScreenshotPermission::granted) {
      granted->addResult(true);
    } else {
      granted->setException(std::make_exception_ptr(refused));
    }
    granted->finish();
    return;
  }
  if (!stored) {
    granted->addResult(true);
    granted->finish();
    return;
  }
  QWindow* shown = window_->show();
  parent_ = shown ? XdgForeignExport::of(*shown) : nullptr;
  const QString parent = QString::fromStdString(waylandParentWindow(parent_ ? parent_->handle() : ""));
  auto* watcher = new QFutureWatcher<bool>(answers_.get());
  QObject::connect(watcher, &QFutureWatcher<bool>::finished, answers_.get(),
                   [this, watcher, granted, refused] {
                     watcher->deleteLater();
                     parent_.reset();  // before its surface goes
                     window_->close();
                     try {
                       if (!watcher->future().result()) throw refused;
                       granted->addResult(true);
                     } catch (...) {
                       granted->setException(std::current_exception());
                     }
                     granted->finish();
                   });
  watcher->setFuture(QtConcurrent::run([ask = question_.ask, parent] { return ask(parent); }));
}

PortalScreenshotSource::~PortalScreenshotSource() = default;

QFuture<QImage> PortalScreenshotSource::windowChosenByDesktop() {
  return QtConcurrent::run(takeInteractivePortalScreenshot);
}

void PortalScreenshotSource::synchronize() {
  WaylandScreenSource::synchronize();
  shots_.newCapture();
}

QFuture<QImage> PortalScreenshotSource::outputImage(const WaylandOutput& output, const PixelRect& source,
                                                    const std::vector<WaylandOutput>& layout) {
  return shots_.outputImage(output, source, layout);
}

struct PortalDesktopShots::Shot {
  std::mutex taking;
  std::optional<QImage> desktop;  // once taken
  std::set<std::string> outputs;  // those cut from it (GUI thread)
};

QFuture<QImage> PortalDesktopShots::outputImage(const WaylandOutput& output, const PixelRect& source,
                                                const std::vector<WaylandOutput>& layout) {
  if (!shot_ || shot_->outputs.contains(output.name)) shot_ = std::make_shared<Shot>();
  shot_->outputs.insert(output.name);
  return QtConcurrent::run([shot = shot_, output, source, layout] {
    const std::lock_guard lock(shot->taking);
    if (!shot->desktop) shot->desktop = takePortalScreenshot(QDBusConnection::sessionBus());
    return outputPartOf(*shot->desktop, layout, output, source);
  });
}

}  // namespace lumacap
