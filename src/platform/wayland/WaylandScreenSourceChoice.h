#pragma once

#include <memory>

#include "core/DesktopBackend.h"
#include "platform/PermissionWindow.h"
#include "platform/ScreenSource.h"

namespace lumacap {

// The screen source of a Wayland session for the capture mechanism the
// backend choice found (KWin's ScreenShot2, wlroots screencopy or the
// Screenshot portal); one that says why capturing cannot work otherwise.
// With `gnomeQuestion`, the portal's one-time question is asked in front of
// that window (GNOME).
std::unique_ptr<ScreenSource> makeWaylandScreenSource(CaptureMechanism mechanism,
                                                      PermissionWindow* gnomeQuestion = nullptr);

}  // namespace lumacap
