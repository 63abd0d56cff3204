#pragma once

#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "support/Subprocess.h"

namespace lumacap::test {

// Set in the environment of a test program started as a stand-in for a desktop service.
inline constexpr const char* busPeerVariable = "LUMACAP_TEST_BUS_PEER";

// For a test program's main: when this process is such a stand-in, it owns the name on its session
// bus and serves the bus until killed (QtDBus refuses every call, having no objects); returns its
// exit status then. Nothing otherwise.
inline std::optional<int> runAsBusPeer(int argc, char** argv) {
  const QByteArray name = qgetenv(busPeerVariable);
  if (name.isEmpty()) return std::nullopt;
  QCoreApplication application(argc, argv);
  if (!QDBusConnection::sessionBus().registerService(QString::fromUtf8(name))) return 1;
  return application.exec();
}

// A desktop service that never answers: this program run again on the bus at `address`, owning
// `name`, then stopped (SIGSTOP) so that every call to it waits for an answer that never comes.
class StoppedBusPeer {
 public:
  StoppedBusPeer(const std::string& address, const std::string& name)
      : process_({std::filesystem::read_symlink("/proc/self/exe").string()},
                 {{busPeerVariable, name}, {"DBUS_SESSION_BUS_ADDRESS", address}}) {
    const auto owned = [&] {
      return runProcess({"dbus-send", "--bus=" + address, "--print-reply", "--dest=org.freedesktop.DBus",
                         "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name})
                 .standardOutput.find("true") != std::string::npos;
    };
    if (!waitUntil(owned)) throw std::runtime_error("the stand-in for " + name + " did not take its name");
    ::kill(process_.pid(), SIGSTOP);
  }
  ~StoppedBusPeer() { ::kill(process_.pid(), SIGCONT); }
  StoppedBusPeer(const StoppedBusPeer&) = delete;
  StoppedBusPeer& operator=(const StoppedBusPeer&) = delete;

 private:
  BackgroundProcess process_;
};

// How the GUI thread served its events from construction on: a timer on it asks for a tick every
// 5 ms; the longest gap between ticks, and whether a tick ever came from an event loop nested
// below the one that was running when the meter started (a lookup that runs events while it
// waits).
// Tests hold the longest under half a second: the stalls they look for last as long as a call's
// time-out (seconds), while a loaded machine delays a 5 ms tick by tens of milliseconds.
class GuiStallMeter {
 public:
  GuiStallMeter() : baseLevel_(QThread::currentThread()->loopLevel()) {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      longest_ = std::max(longest_, clock_.restart());
      deepest_ = std::max(deepest_, QThread::currentThread()->loopLevel());
    });
    clock_.start();
    timer_.start(5);
  }
  // The longest stall, the one still going on included.
  std::chrono::milliseconds longest() const {
    return std::chrono::milliseconds(std::max(longest_, clock_.elapsed()));
  }
  // Whether events were served from a loop nested inside the code under test. The meter is read
  // from the test's own loop (one level above where it started, or the same).
  bool servedFromNestedLoop() const { return deepest_ > std::max(baseLevel_, 1); }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
  int baseLevel_ = 0;
  int deepest_ = 0;
};

}  // namespace lumacap::test
