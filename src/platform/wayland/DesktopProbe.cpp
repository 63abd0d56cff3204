#include "platform/wayland/DesktopProbe.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
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

QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& arguments = {}) {
  QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
  message.setArguments(arguments);
  return DBusCall::waited(QDBusConnection::sessionBus(), message, DBusCall::startUpProbe);
}

// The desktop's names that have an owner or that the bus can start.
std::set<std::string> desktopBusNames() {
  const auto askBus = [](const char* method, const QVariantList& arguments = {}) {
    return call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
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

bool kwinOffersScreenShot2() {
  const QDBusMessage reply =
      call("org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.freedesktop.DBus.Introspectable", "Introspect");
  return reply.type() == QDBusMessage::ReplyMessage &&
         reply.arguments().value(0).toString().contains("org.kde.KWin.ScreenShot2");
}

// Reading the portal's version is a call the front end answers only with a back end behind it.
bool screenshotPortalAnswers() {
  const QDBusMessage reply =
      call(desktopPortalService, desktopPortalPath, "org.freedesktop.DBus.Properties", "Get",
           {QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("version")});
  return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace

DesktopFacts probeDesktop() {
  DesktopFacts facts = sessionFacts(environmentVariable);
  if (chooseSession(facts) != Session::wayland) return facts;
  facts.waylandGlobals = waylandGlobals();
  facts.busNames = desktopBusNames();
  facts.kwinScreenShot2 = facts.busNames.contains("org.kde.KWin") && kwinOffersScreenShot2();
  // The portal is the fallback: asked only where nothing better captures (starting it takes a moment).
  if (!facts.kwinScreenShot2 && !facts.waylandGlobals.contains("zwlr_screencopy_manager_v1") &&
      screenshotPortalAnswers())
    facts.workingPortals.insert("org.freedesktop.portal.Screenshot");
  return facts;
}

}  // namespace lumacap
