#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>

#include "app/handoff/InstanceBusNames.h"

namespace lumacap {

// One Lumacap per desktop session. The first instance owns the name
// org.lumacap.Lumacap on the session bus and answers the freedesktop
// org.freedesktop.Application interface at /org/lumacap/Lumacap, through which
// later starts, desktop launchers, key bindings and `gapplication action`
// reach it.
class DesktopActivation : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* serviceName = instancebus::serviceName;
  static constexpr const char* objectPath = instancebus::objectPath;
  // The actions desktops may ask for; others are ignored.
  static const QStringList actions;

  enum class Claim {
    primary,     // this process is the one instance
    handedOver,  // another instance runs and took the request: exit 0
    noBus,       // no session bus: run as a single process
  };

  // On the session bus, or on `bus` (tests use a private one).
  explicit DesktopActivation(QObject* parent = nullptr);
  explicit DesktopActivation(const QDBusConnection& bus, QObject* parent = nullptr);
  ~DesktopActivation() override;

  // Tries to become the one instance. When another one owns the name, hands it
  // `action` (empty: a plain activation) and answers handedOver. Otherwise the
  // action is this process's own: a known one is emitted as actionRequested
  // once the event loop runs; an empty one does nothing.
  Claim claim(const QString& action = {}, int delay = 0);

  // The action named by a `--action=NAME` argument (desktop actions start
  // Lumacap so where the desktop does not activate it over D-Bus); empty when
  // there is none or it names no known action.
  static QString actionFromArguments(const QStringList& arguments);
  // The seconds of `--delay=SECONDS` that go with it; 0 without.
  static int delayFromArguments(const QStringList& arguments);

  // Called by the bus interface.
  void activate();
  void activateAction(const QString& name, int delay = 0);

 signals:
  // The user opened Lumacap again: the preview of the capture in hand, else
  // Recent Captures, nothing while busy.
  void activated();
  // `delay`: the seconds of a countdown before a capture; 0: at once.
  void actionRequested(const QString& name, int delay);

 private:
  bool handOver(const QString& action, int delay, std::chrono::milliseconds timeout);
  void runOwnAction(const QString& action, int delay);

  QDBusConnection bus_;
  bool exported_ = false;
};

}  // namespace lumacap
