#include "platform/wayland/CompositorWindowList.h"

#include <cstdlib>

#include "platform/wayland/HyprlandWindowList.h"
#include "platform/wayland/KWinWindowScripts.h"
#include "platform/wayland/SwayWindowList.h"

namespace lumacap {

std::shared_ptr<CompositorWindowList> makeCompositorWindowList(Desktop desktop) {
  if (desktop == Desktop::kwin) return std::make_shared<KWinWindowScripts>();
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const char* swaySocket = std::getenv("SWAYSOCK");
  if (desktop == Desktop::sway && swaySocket && *swaySocket)
    return std::make_shared<SwayWindowList>(swaySocket, runtime ? runtime : "");
  const char* hyprlandInstance = std::getenv("HYPRLAND_INSTANCE_SIGNATURE");
  if (desktop == Desktop::hyprland && hyprlandInstance && *hyprlandInstance)
    return std::make_shared<HyprlandWindowList>(runtime ? runtime : "", hyprlandInstance);
  return nullptr;
}

}  // namespace lumacap
