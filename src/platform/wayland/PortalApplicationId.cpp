#include "platform/wayland/PortalApplicationId.h"

#include <QDBusMessage>
#include <QFile>
#include <QVariantMap>
#include <mutex>
#include <set>

#include "core/ScreenshotPermission.h"
#include "platform/linux/DBusCall.h"
#include "platform/wayland/PortalRequest.h"

namespace lumacap {
namespace {

// The connections (by name) on which the portal took Lumacap's id; read from workers too.
std::mutex registeredGuard;
std::set<QString>& registeredConnections() {
  static std::set<QString> names;
  return names;
}

}  // namespace

QCoro::Task<bool> registerWithPortal(QDBusConnection bus) {
  QDBusMessage call = QDBusMessage::createMethodCall(desktopPortalService, desktopPortalPath,
                                                     QStringLiteral("org.freedesktop.host.portal.Registry"),
                                                     QStringLiteral("Register"));
  call << QString::fromLatin1(lumacapApplicationId) << QVariantMap();
  const QDBusMessage reply = co_await DBusCall::awaited(bus, call, DBusCall::serviceAnswer);
  if (reply.type() != QDBusMessage::ReplyMessage) co_return false;
  const std::lock_guard lock(registeredGuard);
  registeredConnections().insert(bus.name());
  co_return true;
}

std::string portalApplicationIdOf(const QDBusConnection& bus) {
  {
    const std::lock_guard lock(registeredGuard);
    if (registeredConnections().contains(bus.name())) return lumacapApplicationId;
  }
  QFile cgroup(QStringLiteral("/proc/self/cgroup"));
  if (!cgroup.open(QIODevice::ReadOnly)) return {};
  return portalApplicationID(cgroup.readAll().toStdString());
}

}  // namespace lumacap
