#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <string>

namespace lumacap {

// The application id the desktop portal files Lumacap's requests under. Since xdg-desktop-portal
// 1.19 a program outside a sandbox may name its id (the host registry) before its first request on
// a connection; the portal takes it only where the desktop finds the application's desktop entry,
// as for an installed Lumacap. GNOME 48 binds global shortcuts only for a program with an id, and
// keeps its screenshot answer under that id. Without it (an older portal, a build run from its
// folder, a connection that already asked something) the portal derives the id from the systemd
// unit Lumacap runs in, as before.
inline constexpr const char* lumacapApplicationId = "org.lumacap.Lumacap";

// Names Lumacap's id to the portal on `bus`; awaited, never blocking, bounded by
// DBusCall::serviceAnswer: whether the portal took it. A refusal is no error.
QCoro::Task<bool> registerWithPortal(QDBusConnection bus);

// The id the portal knows this connection's requests by: Lumacap's once registered on it, else
// the unit's (read from /proc/self/cgroup; empty for a program started outside any unit).
std::string portalApplicationIdOf(const QDBusConnection& bus);

}  // namespace lumacap
