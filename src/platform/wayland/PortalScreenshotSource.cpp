#include "platform/wayland/PortalScreenshotSource.h"

#include <QCoroSignal>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QFutureWatcher>
#include <QPromise>
#include <QRandomGenerator>
#include <QThread>
#include <QtConcurrent/QtConcurrent>
#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "core/CaptureError.h"
#include "core/ProgramError.h"
#include "platform/CaptureFileReader.h"
#include "platform/ReadyFuture.h"
#include "platform/linux/AsyncDBusCall.h"
#include "platform/wayland/DesktopPortal.h"
#include "platform/wayland/XdgForeignExport.h"

namespace lumacap {
namespace {

const QString screenshotInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
// A first screenshot may wait for the user to allow it.
constexpr auto screenshotAnswerTimeout = std::chrono::minutes(2);
// A portal answers a request's call at once, with its handle.
constexpr auto portalCallTimeout = std::chrono::seconds(10);

constexpr const char* refusedText =
    "The desktop refused Lumacap’s screenshot request. Capture again and choose Allow when the desktop asks; "
    "if it no longer asks, allow screenshots for Lumacap in the desktop’s privacy settings.";

}  // namespace

namespace detail {
void PortalResponse::response(uint responseCode, const QVariantMap& responseResults) {
  answered = true;
  code = responseCode;
  results = responseResults;
  emit done();
}
}  // namespace detail

PortalScreenshotAnswer screenshotAnswer(uint code, const QVariantMap& results) {
  if (code == 1) return {{}, "The screenshot was cancelled."};
  if (code != 0) return {{}, refusedText};
  return {results.value(QStringLiteral("uri")).toString(), {}};
}

QString portalRequestPath(const QString& uniqueName, const QString& token) {
  QString sender = uniqueName.startsWith(u':') ? uniqueName.mid(1) : uniqueName;
  sender.replace(u'.', u'_');
  return desktopPortalPath + QStringLiteral("/request/") + sender + u'/' + token;
}

QCoro::Task<PortalRequest> requestFromPortal(QDBusConnection bus, QString interface, QString method,
                                             QList<QVariant> arguments, std::chrono::milliseconds timeout) {
  const QString token = QStringLiteral("lumacap%1").arg(QRandomGenerator::global()->generate());
  const QString requestPath = portalRequestPath(bus.baseService(), token);
  QVariantMap options = arguments.takeLast().toMap();
  options.insert(QStringLiteral("handle_token"), token);
  arguments.append(options);
  const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
  detail::PortalResponse response;
  // Subscribed before the call: the answer may come before the call returns.
  bus.connect(desktopPortalService, requestPath, requestInterface, QStringLiteral("Response"), &response,
              SLOT(response(uint, QVariantMap)));
  QDBusMessage call =
      QDBusMessage::createMethodCall(desktopPortalService, desktopPortalPath, interface, method);
  call.setArguments(arguments);
  const auto asked = std::chrono::steady_clock::now();
  PortalRequest request;
  // The call itself answers at once with the request's handle; only the Response waits for the user.
  request.reply =
      co_await asyncDBusCall(bus, call, std::min<std::chrono::milliseconds>(timeout, portalCallTimeout));
  const auto left = timeout - std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - asked);
  if (request.reply.type() != QDBusMessage::ErrorMessage && !response.answered &&
      left > std::chrono::milliseconds(0))
    co_await qCoro(&response, &detail::PortalResponse::done, left);
  bus.disconnect(desktopPortalService, requestPath, requestInterface, QStringLiteral("Response"), &response,
                 SLOT(response(uint, QVariantMap)));
  request.answered = response.answered;
  request.code = response.code;
  request.results = response.results;
  co_return request;
}

PortalRequest requestFromPortalOnWorker(QDBusConnection bus, const QString& interface, const QString& method,
                                        QList<QVariant> arguments, std::chrono::milliseconds timeout) {
  if (onGuiThread()) throw std::logic_error("A portal request was about to wait on the GUI thread.");
  // The worker's own event loop runs until the request ends, bounded by `timeout`.
  return QCoro::waitFor(requestFromPortal(std::move(bus), interface, method, std::move(arguments), timeout));
}

bool portalWasBusy(uint code, std::chrono::milliseconds answeredAfter) {
  // GNOME Shell takes one screenshot at a time and answers the others at
  // once with "other" (2); a person who refuses in the desktop's dialog
  // takes longer than that.
  return code == 2 && answeredAfter < std::chrono::milliseconds(500);
}

namespace {

struct PortalAnswer {
  uint code = 0;
  QVariantMap results;
};

PortalAnswer askPortalForScreenshot(QDBusConnection& bus, bool interactive, const QString& parentWindow) {
  const PortalRequest request = requestFromPortalOnWorker(
      bus, screenshotInterface, QStringLiteral("Screenshot"),
      {parentWindow,
       QVariantMap{{QStringLiteral("interactive"), interactive}, {QStringLiteral("modal"), false}}},
      screenshotAnswerTimeout);
  if (request.reply.type() == QDBusMessage::ErrorMessage)
    throw ProgramError("The desktop’s screenshot portal is not available (" +
                       request.reply.errorMessage().toStdString() + ").");
  if (!request.answered)
    throw ProgramError("The desktop’s screenshot portal did not answer. Try capturing again.");
  return {request.code, request.results};
}

// A screenshot another program (or a capture just before) still has in
// progress is waited for, up to two seconds.
PortalAnswer portalScreenshot(bool interactive, const QString& parentWindow) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    throw ProgramError(
        "Lumacap cannot reach the session bus, so it cannot ask the desktop for a screenshot.");
  PortalAnswer answered;
  for (int attempt = 0;; ++attempt) {
    const auto asked = std::chrono::steady_clock::now();
    answered = askPortalForScreenshot(bus, interactive, parentWindow);
    const auto after =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    if (!portalWasBusy(answered.code, after) || attempt == 10) break;
    QThread::msleep(200);
  }
  return answered;
}

QImage screenshotThroughPortal(bool interactive) {
  const timespec requested = CaptureFileReader::fileClockNow();
  const PortalAnswer answered = portalScreenshot(interactive, QString());
  if (interactive && answered.code == 1) return {};  // the user closed the desktop's interface
  const PortalScreenshotAnswer answer = screenshotAnswer(answered.code, answered.results);
  if (!answer.error.empty()) throw ProgramError(answer.error);
  return CaptureFileReader::takePortalScreenshot({answer.uri, requested, CaptureFileReader::portalFolders()})
      .convertToFormat(QImage::Format_RGB32);
}

}  // namespace

QImage takePortalScreenshot() { return screenshotThroughPortal(false); }

QImage takeInteractivePortalScreenshot() { return screenshotThroughPortal(true); }

bool portalTakesScreenshot(const QString& parentWindow) {
  const timespec requested = CaptureFileReader::fileClockNow();
  const PortalAnswer answered = portalScreenshot(false, parentWindow);
  if (answered.code != 0) return false;
  try {  // the answer is what counts: its screenshot is only cleared away
    CaptureFileReader::takePortalScreenshot({screenshotAnswer(answered.code, answered.results).uri, requested,
                                             CaptureFileReader::portalFolders()});
  } catch (const CaptureError&) {
  }
  return true;
}

namespace {

const QString permissionStoreService = QStringLiteral("org.freedesktop.impl.portal.PermissionStore");

std::string ownApplicationID() {
  QFile cgroup(QStringLiteral("/proc/self/cgroup"));
  if (!cgroup.open(QIODevice::ReadOnly)) return {};
  return portalApplicationID(cgroup.readAll().toStdString());
}

// PermissionStore.Lookup("screenshot", "screenshot"): the values by
// application id. The table does not exist before the first answer.
// Blocks the calling thread (a worker) for five seconds at most.
std::optional<ScreenshotPermission> storedScreenshotPermission(QDBusConnection bus,
                                                               const std::string& applicationID) {
  QDBusMessage lookup = QDBusMessage::createMethodCall(
      permissionStoreService, QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
      permissionStoreService, QStringLiteral("Lookup"));
  lookup << QStringLiteral("screenshot") << QStringLiteral("screenshot");
  const QDBusMessage reply = bus.call(lookup, QDBus::Block, 5000);
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
  std::string applicationID = ownApplicationID();
  return {applicationID, [bus, applicationID] { return storedScreenshotPermission(bus, applicationID); },
          portalTakesScreenshot};
}

QImage outputPartOf(const QImage& desktop, const std::vector<WaylandOutput>& layout,
                    const WaylandOutput& output, const PixelRect& source) {
  const QRect area = desktopImageArea(layout, desktop.size(), output, source);
  if (area.isEmpty() || !desktop.rect().contains(area)) {
    throw ProgramError("The desktop’s screenshot does not cover the display. Try capturing again.");
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
  const std::string refused = screenshotsRefusedOnGnome(question_.applicationID);
  if (stored && *stored != ScreenshotPermission::unset) {
    if (*stored == ScreenshotPermission::granted) {
      granted->addResult(true);
    } else {
      granted->setException(std::make_exception_ptr(ProgramError(refused)));
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
                       if (!watcher->future().result()) throw ProgramError(refused);
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

QFuture<QImage> PortalScreenshotSource::outputImage(const WaylandOutput& output, const PixelRect& source,
                                                    const std::vector<WaylandOutput>& layout) {
  return QtConcurrent::run(
      [output, source, layout] { return outputPartOf(takePortalScreenshot(), layout, output, source); });
}

}  // namespace lumacap
