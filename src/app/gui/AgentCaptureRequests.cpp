#include "app/gui/AgentCaptureRequests.h"

#include <unistd.h>

#include <QDBusServiceWatcher>
#include <QDir>

#include "app/model/AppModel.h"
#include "platform/linux/DBusCall.h"

namespace lumacap {

namespace {
constexpr int bannerPartLength = 120;

QString bounded(const QString& text) {
  const QString line = text.simplified();
  return line.size() > bannerPartLength ? line.left(bannerPartLength - 1) + QChar(0x2026) : line;
}
}  // namespace

AgentCaptureRequests::AgentCaptureRequests(QDBusConnection bus, AppModel& model,
                                           std::function<bool()> agentsMayRead, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), model_(model), agentsMayRead_(std::move(agentsMayRead)) {
  exported_ = bus_.registerObject(instancebus::agentsPath, this, QDBusConnection::ExportScriptableSlots);
  timeout_.setSingleShot(true);
  timeout_.setInterval(std::chrono::seconds(instancebus::requestTimeoutSeconds));
  connect(&timeout_, &QTimer::timeout, this, [this] { withdraw(instancebus::timedOutError); });
}

AgentCaptureRequests::~AgentCaptureRequests() {
  if (exported_) bus_.unregisterObject(instancebus::agentsPath);
}

QString AgentCaptureRequests::bannerText(const QString& agent, const QString& folder, const QString& reason) {
  QString place = bounded(folder);
  const QString home = QDir::homePath();
  if (place == home || place.startsWith(home + QLatin1Char('/')))
    place = QLatin1Char('~') + place.mid(home.size());
  QString text = (agent.trimmed().isEmpty() ? QStringLiteral("A coding agent") : bounded(agent)) +
                 QStringLiteral(" asks for a screenshot");
  if (!place.isEmpty()) text += QStringLiteral(" · ") + place;
  if (!reason.trimmed().isEmpty()) text += QStringLiteral(" — ") + bounded(reason);
  return text;
}

QString AgentCaptureRequests::RequestCapture(const QString& agent, const QString& folder,
                                             const QString& reason) {
  setDelayedReply(true);
  answer(message(), bannerText(agent, folder, reason));
  return {};
}

QCoro::Task<> AgentCaptureRequests::answer(QDBusMessage call, QString banner) {
  const QPointer<AgentCaptureRequests> self(this);
  QDBusConnection bus = bus_;
  if (answering_ || model_.busy()) {
    bus.send(call.createErrorReply(instancebus::busyError, QStringLiteral("Lumacap is busy")));
    co_return;
  }
  answering_ = true;
  // Only this user's own programs may open the overlay.
  const QDBusMessage uid = co_await DBusCall::awaited(
      bus,
      QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "GetConnectionUnixUser")
          << call.service(),
      DBusCall::serviceAnswer);
  if (!self) co_return;
  const bool sameUser = uid.type() == QDBusMessage::ReplyMessage && !uid.arguments().isEmpty() &&
                        uid.arguments().constFirst().toUInt() == ::getuid();
  if (!sameUser || !agentsMayRead_()) {
    answering_ = false;
    bus.send(call.createErrorReply(instancebus::refusedError, QStringLiteral("Refused")));
    co_return;
  }
  withdrawn_ = nullptr;
  watchCaller(call.service());
  timeout_.start();
  const std::optional<std::string> id = co_await model_.captureForAgent(banner);
  if (!self) co_return;
  timeout_.stop();
  callerWatch_.reset();
  answering_ = false;
  if (id) {
    bus.send(call.createReply(QString::fromStdString(*id)));
  } else {
    const char* error = withdrawn_ ? withdrawn_ : instancebus::cancelledError;
    bus.send(call.createErrorReply(error, QStringLiteral("No capture")));
  }
}

// The caller's connection closing (the agent gave up, or `lumacap mcp`
// ended) closes the overlay.
void AgentCaptureRequests::watchCaller(const QString& caller) {
  callerWatch_ =
      std::make_unique<QDBusServiceWatcher>(caller, bus_, QDBusServiceWatcher::WatchForUnregistration);
  connect(callerWatch_.get(), &QDBusServiceWatcher::serviceUnregistered, this,
          [this] { withdraw(instancebus::cancelledError); });
}

void AgentCaptureRequests::withdraw(const char* error) {
  if (!answering_) return;
  withdrawn_ = error;
  model_.cancelSelection();
}

}  // namespace lumacap
