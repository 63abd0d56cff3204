#include "platform/wayland/KWinWindowScripts.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QTimer>
#include <optional>
#include <stdexcept>

#include "core/CaptureError.h"
#include "platform/linux/DBusCall.h"
#include "platform/wayland/KWinScreenShotSource.h"

namespace lumacap {
namespace {

// What both scripts share: the window list and the active window under the
// names of Plasma 5.27 and of Plasma 6.
constexpr const char* scriptPrelude = R"(
function allWindows() { return workspace.windowList ? workspace.windowList() : workspace.clientList(); }
function stacked() { return workspace.stackingOrder ? workspace.stackingOrder : allWindows(); }
// The window without its decoration: Plasma 6 calls it clientGeometry; on
// 5.27 the buffer of a Wayland window is just that (an Xwayland window's
// buffer still holds the decoration KWin draws around it).
function clientArea(w) { return w.clientGeometry || w.bufferGeometry || w.frameGeometry; }
function activeWindow() {
  return workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient;
}
)";

QDBusMessage callScripting(QDBusConnection& bus, const QString& method, const QVariantList& arguments) {
  QDBusMessage call = QDBusMessage::createMethodCall(kwinService, QStringLiteral("/Scripting"),
                                                     QStringLiteral("org.kde.kwin.Scripting"), method);
  call.setArguments(arguments);
  return DBusCall::waited(bus, call, DBusCall::serviceAnswer);
}

QString jsString(const QString& text) {
  return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

}  // namespace

void detail::KWinScriptAnswer::report(const QString& answerToken, const QString& reported) {
  if (!calledFromDBus()) return;
  if (text || kwin.isEmpty() || message().service() != kwin || answerToken != token) {
    sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Lumacap waits for no such answer."));
    return;
  }
  text = reported;
  emit this->reported();
}

QString KWinWindowScripts::listingScript() {
  return QString::fromUtf8(scriptPrelude) + QStringLiteral(R"(
var windows = stacked(), active = activeWindow(), out = [];
for (var i = 0; i < windows.length; i++) {
  var w = windows[i];
  if (!(w.normalWindow || w.dialog)) continue;
  var g = clientArea(w);
  out.push({id: String(w.internalId), pid: w.pid, resourceClass: String(w.resourceClass),
            caption: String(w.caption), x: g.x, y: g.y, width: g.width, height: g.height,
            active: w === active, minimized: !!w.minimized});
}
ANSWER(JSON.stringify(out));
)");
}

QString KWinWindowScripts::activationScript(const QString& handle) {
  return QString::fromUtf8(scriptPrelude) + QStringLiteral(R"(
var windows = allWindows(), found = false;
for (var i = 0; i < windows.length; i++) {
  var w = windows[i];
  if (String(w.internalId) !== %1) continue;
  if (w.minimized) w.minimized = false;
  if (workspace.activeWindow !== undefined) workspace.activeWindow = w; else workspace.activeClient = w;
  found = true;
}
ANSWER(JSON.stringify(found));
)")
                                                .arg(jsString(handle));
}

QString KWinWindowScripts::run(const QString& script) {
  if (onGuiThread()) throw std::logic_error("A KWin script was about to be awaited on the GUI thread.");
  QDBusConnection& bus = bus_;
  if (!bus.isConnected()) throw CaptureError(CaptureError::Kind::noSessionBus);
  const QString tag = QString::number(QRandomGenerator::global()->generate64(), 16);
  const QString path = QStringLiteral("/org/lumacap/KWinScript/r") + tag;
  const QString token = QString::number(QRandomGenerator::system()->generate64(), 16) +
                        QString::number(QRandomGenerator::system()->generate64(), 16);
  detail::KWinScriptAnswer answer(token);
  if (!bus.registerObject(path, &answer, QDBusConnection::ExportAllSlots))
    throw CaptureError(CaptureError::Kind::kwinAnswerUnreachable);
  const QString call = QStringLiteral(
                           "(function (text) { callDBus(%1, %2, \"org.lumacap.KWinScript\", "
                           "\"report\", %3, text); })")
                           .arg(jsString(bus.baseService()), jsString(path), jsString(token));

  QTemporaryFile file(QDir::tempPath() + QStringLiteral("/lumacap-kwin-XXXXXX.js"));
  const QString plugin = QStringLiteral("lumacap-") + tag;
  std::optional<CaptureError::Kind> failure;
  if (!file.open() || file.write(QString(script).replace(QStringLiteral("ANSWER"), call).toUtf8()) < 0 ||
      !file.flush()) {
    failure = CaptureError::Kind::kwinScriptUnwritable;
  } else if (const QDBusMessage loaded =
                 callScripting(bus, QStringLiteral("loadScript"), {file.fileName(), plugin});
             loaded.type() == QDBusMessage::ErrorMessage || loaded.arguments().value(0).toInt() < 0) {
    qWarning("KWin did not load Lumacap's script: %s", qPrintable(loaded.errorMessage()));
    failure = CaptureError::Kind::kwinScriptRefused;
  } else {
    // The connection that owns KWin's name runs the script. Qt 6.4 gives a reply's sender;
    // Qt 6.8 leaves it empty, so the bus is asked (this is a worker thread).
    answer.kwin = loaded.service();
    if (!answer.kwin.startsWith(u':')) answer.kwin = bus.interface()->serviceOwner(kwinService).value();
    callScripting(bus, QStringLiteral("start"), {});
    if (!answer.text) {
      QEventLoop loop;
      QObject::connect(&answer, &detail::KWinScriptAnswer::reported, &loop, &QEventLoop::quit);
      QTimer::singleShot(DBusCall::serviceAnswer, &loop, &QEventLoop::quit);
      loop.exec();
    }
    callScripting(bus, QStringLiteral("unloadScript"), {plugin});
    if (!answer.text) failure = CaptureError::Kind::kwinScriptNoAnswer;
  }
  bus.unregisterObject(path);
  if (failure) throw CaptureError(*failure);
  return *answer.text;
}

std::vector<CompositorWindow> KWinWindowScripts::windows() {
  return parseKWinWindowList(run(listingScript()).toStdString());
}

bool KWinWindowScripts::activate(const CompositorWindow& window) {
  const QString answer = run(activationScript(QString::fromStdString(window.handle)));
  return answer == QLatin1String("true");
}

std::optional<std::string> KWinWindowScripts::activeOutputName() {
  // Follows the pointer unless the user made each screen keep its own focus.
  const QDBusMessage reply = DBusCall::waited(
      bus_,
      QDBusMessage::createMethodCall(kwinService, QStringLiteral("/KWin"), QStringLiteral("org.kde.KWin"),
                                     QStringLiteral("activeOutputName")),
      DBusCall::serviceAnswer);
  const QString name = reply.arguments().value(0).toString();
  if (reply.type() != QDBusMessage::ReplyMessage || name.isEmpty()) return std::nullopt;
  return name.toStdString();
}

std::optional<QImage> KWinWindowScripts::windowImage(const CompositorWindow& window) {
  if (captureRefused_) return std::nullopt;
  try {
    return kwinScreenShot2(
        QStringLiteral("CaptureWindow"),
        {QString::fromStdString(window.handle), QVariantMap{{QStringLiteral("native-resolution"), true},
                                                            {QStringLiteral("include-decoration"), false},
                                                            {QStringLiteral("include-shadow"), false},
                                                            {QStringLiteral("include-cursor"), false}}});
  } catch (const KWinNotAuthorized&) {
    // Raising the window and cutting it from the screen will do instead.
    captureRefused_ = true;
    return std::nullopt;
  }
}

}  // namespace lumacap
