#include "platform/wayland/WaylandScreenSourceChoice.h"

#include "platform/wayland/KWinScreenShotSource.h"
#include "platform/wayland/PortalScreenshotSource.h"
#include "platform/wayland/UnavailableScreenSource.h"
#include "platform/wayland/WlrScreencopySource.h"

namespace lumacap {

std::unique_ptr<ScreenSource> makeWaylandScreenSource(CaptureMechanism mechanism,
                                                      PermissionWindow* gnomeQuestion) {
  switch (mechanism) {
    case CaptureMechanism::kwinScreenShot2:
      return std::make_unique<KWinScreenShotSource>();
    case CaptureMechanism::wlrScreencopy:
      return std::make_unique<WlrScreencopySource>();
    case CaptureMechanism::portal:
      if (gnomeQuestion)
        return std::make_unique<PortalScreenshotSource>(*gnomeQuestion, ScreenshotQuestion::ofPortal());
      return std::make_unique<PortalScreenshotSource>();
    case CaptureMechanism::x11:
    case CaptureMechanism::none:
      break;
  }
  return std::make_unique<UnavailableScreenSource>();
}

}  // namespace lumacap
