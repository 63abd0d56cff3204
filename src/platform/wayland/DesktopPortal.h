#pragma once

#include <QString>

namespace lumacap {

// Where xdg-desktop-portal's front end answers on the session bus.
inline const QString desktopPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString desktopPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");

}  // namespace lumacap
