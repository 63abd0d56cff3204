#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <chrono>

namespace lumacap {

// Every D-Bus call Lumacap makes from Qt code goes through here, with one of
// the named time-outs below. On the GUI thread a call is awaited (its reply
// comes back through the event loop); only a worker thread, or the GUI thread
// before its event loop runs (the start-up questions), waits for one.
class DBusCall {
 public:
  using Timeout = std::chrono::milliseconds;
  // A service that answers at once: a lookup in the permission store, a
  // KWin script call, the window's output, a KWin script's own answer.
  static constexpr Timeout serviceAnswer{5000};
  // All the questions to the desktop at start-up together, before any
  // window exists and before the event loop runs.
  static constexpr Timeout startUpProbe{3000};
  // A compositor rendering the screen and writing it into our pipe.
  static constexpr Timeout screenImage{15000};
  // A portal call, which answers at once with its request's handle.
  static constexpr Timeout portalCall{10000};
  // The notification server showing or replacing a notification: past this
  // the card counts as not shown.
  static constexpr Timeout notification{2000};
  // The file manager showing a file (it may have to start first, by D-Bus
  // activation): past this the folder opens instead.
  static constexpr Timeout fileManager{10000};

  // Sends `call` and awaits its reply without blocking the calling thread
  // (whose event loop must run): the reply, or an error message once
  // `timeout` passed without one (a peer that is stopped or never answers) or
  // when the bus is gone.
  static QCoro::Task<QDBusMessage> awaited(QDBusConnection bus, QDBusMessage call, Timeout timeout);
  // Sends `call` and waits for its reply on the calling thread, `timeout` at
  // most. Throws std::logic_error on the GUI thread once its event loop runs.
  static QDBusMessage waited(QDBusConnection bus, const QDBusMessage& call, Timeout timeout);
  // Sends `message` expecting no reply (a notification closed, a session
  // closed): never waits.
  static void sent(QDBusConnection bus, const QDBusMessage& message);
};

// Whether the calling thread is the application's GUI thread: the thread that
// must never wait on another process.
bool onGuiThread();

}  // namespace lumacap
