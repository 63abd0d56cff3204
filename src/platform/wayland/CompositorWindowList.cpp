#include "platform/wayland/CompositorWindowList.h"

#include "platform/wayland/HyprlandWindowList.h"
#include "platform/wayland/KWinWindowScripts.h"
#include "platform/wayland/SwayWindowList.h"

namespace lumacap {

std::shared_ptr<CompositorWindowList> makeCompositorWindowList(Desktop desktop, const DesktopFacts& facts) {
  if (desktop == Desktop::kwin) return std::make_shared<KWinWindowScripts>();
  if (desktop == Desktop::sway && !facts.swaySocket.empty())
    return std::make_shared<SwayWindowList>(facts.swaySocket, facts.runtimeFolder);
  if (desktop == Desktop::hyprland && !facts.hyprlandInstance.empty())
    return std::make_shared<HyprlandWindowList>(facts.runtimeFolder, facts.hyprlandInstance);
  return nullptr;
}

}  // namespace lumacap
