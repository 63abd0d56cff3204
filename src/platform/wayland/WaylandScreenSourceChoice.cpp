#include "platform/wayland/WaylandScreenSourceChoice.h"

#include "platform/wayland/KWinScreenShotSource.h"
#include "platform/wayland/PortalScreenshotSource.h"
#include "platform/wayland/WlrScreencopySource.h"

namespace lumacap {

WaylandScreenSourceChoice chooseWaylandScreenSource() {
  if (KWinScreenShotSource::isOffered()) return {std::make_unique<KWinScreenShotSource>(), "ScreenShot2"};
  if (WlrScreencopySource::isOffered()) return {std::make_unique<WlrScreencopySource>(), "screencopy"};
  return {std::make_unique<PortalScreenshotSource>(), "the Screenshot portal"};
}

}  // namespace lumacap
