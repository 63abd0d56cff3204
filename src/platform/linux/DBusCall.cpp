#include "platform/linux/DBusCall.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QThread>
#include <stdexcept>

namespace lumacap {

QCoro::Task<QDBusMessage> DBusCall::awaited(QDBusConnection bus, QDBusMessage call, Timeout timeout) {
  QDBusPendingCall pending = bus.asyncCall(call, static_cast<int>(timeout.count()));
  if (!pending.isFinished()) {
    QDBusPendingCallWatcher watcher(pending);
    // The bus's own time-out ends the call; the second one is a guard should its error not come.
    const auto finished =
        co_await qCoro(&watcher, &QDBusPendingCallWatcher::finished, timeout + std::chrono::seconds(1));
    if (!finished)
      co_return call.createErrorReply(QDBusError::NoReply, QStringLiteral("The call got no answer in time."));
  }
  co_return pending.reply();
}

QDBusMessage DBusCall::waited(QDBusConnection bus, const QDBusMessage& call, Timeout timeout) {
  if (onGuiThread() && QThread::currentThread()->loopLevel() > 0)
    throw std::logic_error("A D-Bus call was about to wait on the GUI thread.");
  return bus.call(call, QDBus::Block, static_cast<int>(timeout.count()));
}

void DBusCall::sent(QDBusConnection bus, const QDBusMessage& message) { bus.send(message); }

bool onGuiThread() {
  const QCoreApplication* application = QCoreApplication::instance();
  return application && QThread::currentThread() == application->thread();
}

}  // namespace lumacap
