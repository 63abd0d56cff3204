#pragma once

#include "core/DesktopBackend.h"

namespace lumacap {

// Gathers what the session offers: the environment, the Wayland globals, the desktop's names on
// the session bus and whether the Screenshot portal answers. Needs the QCoreApplication (D-Bus).
// In an X11 session only the environment is read.
DesktopFacts probeDesktop();

}  // namespace lumacap
