#pragma once

#include <QCoreApplication>
#include <QCoroSignal>
#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QThread>
#include <chrono>

namespace lumacap {

// Sends `call` and awaits its reply without blocking the calling thread (whose
// event loop must run): the reply, or an error message once `timeout` passed
// without one (a peer that is stopped or never answers) or when the bus is
// gone.
inline QCoro::Task<QDBusMessage> asyncDBusCall(QDBusConnection bus, QDBusMessage call,
                                               std::chrono::milliseconds timeout) {
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

// Whether the calling thread is the application's GUI thread: the thread that
// must never wait on another process.
inline bool onGuiThread() {
  const QCoreApplication* application = QCoreApplication::instance();
  return application && QThread::currentThread() == application->thread();
}

}  // namespace lumacap
