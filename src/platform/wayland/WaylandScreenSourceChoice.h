#pragma once

#include <memory>
#include <string>

#include "platform/wayland/WaylandScreenSource.h"

namespace lumacap {

// The way to read the screen of this Wayland session, by what it offers:
// KWin's ScreenShot2, wlroots screencopy, else the Screenshot portal.
struct WaylandScreenSourceChoice {
  std::unique_ptr<WaylandScreenSource> source;
  std::string mechanism;  // "ScreenShot2", "screencopy", "the Screenshot portal"
};
WaylandScreenSourceChoice chooseWaylandScreenSource();

}  // namespace lumacap
