#include "platform/wayland/CompositorWindowList.h"

#include <cstdlib>

#include "platform/wayland/KWinWindowScripts.h"
#include "platform/wayland/SwayWindowList.h"

namespace lumacap {

std::shared_ptr<CompositorWindowList> makeCompositorWindowList(Desktop desktop) {
  if (desktop == Desktop::kwin) return std::make_shared<KWinWindowScripts>();
  const char* swaySocket = std::getenv("SWAYSOCK");
  if (desktop == Desktop::sway && swaySocket && *swaySocket)
    return std::make_shared<SwayWindowList>(swaySocket);
  return nullptr;
}

}  // namespace lumacap
