#include "platform/wayland/DesktopProbe.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <chrono>
#include <cstdlib>

#include "platform/linux/DBusCall.h"
#include "platform/wayland/PortalRequest.h"
#include "platform/wayland/WaylandGlobals.h"

namespace lumacap {
namespace {

std::optional<std::string> environmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

// The probe runs once, while the application starts: before its event loop
// runs and before it has a window (DBusCall::waited refuses once the loop
// runs). Its questions share one budget, so that the start waits for the
// desktop's bus no longer than DBusCall::startUpProbe in all; a question
// asked once the budget is spent gets no answer.
using Deadline = std::chrono::steady_clock::time_point;

QDBusMessage call(Deadline deadline, const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& arguments = {}) {
  QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
  message.setArguments(arguments);
  const auto left =
      std::chrono::duration_cast<DBusCall::Timeout>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0)
    return message.createErrorReply(QDBusError::NoReply,
                                    QStringLiteral("The start-up probe ran out of time."));
  return DBusCall::waited(QDBusConnection::sessionBus(), message, left);
}

// The desktop's names that have an owner or that the bus can start.
std::set<std::string> desktopBusNames(Deadline deadline) {
  const auto askBus = [deadline](const char* method, const QVariantList& arguments = {}) {
    return call(deadline, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QString::fromLatin1(method), arguments)
        .arguments()
        .value(0);
  };
  std::set<std::string> names;
  const QStringList activatable = askBus("ListActivatableNames").toStringList();
  for (const char* name : {"org.kde.KWin", "org.gnome.Shell", "org.freedesktop.Notifications"}) {
    if (askBus("NameHasOwner", {QString::fromLatin1(name)}).toBool() || activatable.contains(name))
      names.insert(name);
  }
  return names;
}

bool kwinOffersScreenShot2(Deadline deadline) {
  const QDBusMessage reply = call(deadline, "org.kde.KWin", "/org/kde/KWin/ScreenShot2",
                                  "org.freedesktop.DBus.Introspectable", "Introspect");
  return reply.type() == QDBusMessage::ReplyMessage &&
         reply.arguments().value(0).toString().contains("org.kde.KWin.ScreenShot2");
}

// Reading the portal's version is a call the front end answers only with a back end behind it.
bool screenshotPortalAnswers(Deadline deadline) {
  const QDBusMessage reply =
      call(deadline, desktopPortalService, desktopPortalPath, "org.freedesktop.DBus.Properties", "Get",
           {QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("version")});
  return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace

DesktopFacts probeDesktop() {
  DesktopFacts facts = sessionFacts(environmentVariable);
  if (chooseSession(facts) != Session::wayland) return facts;
  facts.waylandGlobals = waylandGlobals();
  const Deadline deadline = std::chrono::steady_clock::now() + DBusCall::startUpProbe;
  facts.busNames = desktopBusNames(deadline);
  facts.kwinScreenShot2 = facts.busNames.contains("org.kde.KWin") && kwinOffersScreenShot2(deadline);
  // The portal is the fallback: asked only where nothing better captures (starting it takes a moment).
  if (!facts.kwinScreenShot2 && !facts.waylandGlobals.contains("zwlr_screencopy_manager_v1") &&
      screenshotPortalAnswers(deadline))
    facts.workingPortals.insert("org.freedesktop.portal.Screenshot");
  return facts;
}

}  // namespace lumacap
