#pragma once

#include <memory>

#include "app/hotkey/DesktopHotKey.h"
#include "core/DesktopBackend.h"
#include "platform/HotKeyService.h"

namespace lumacap {

// The hot key inside a Wayland session: the GlobalShortcuts portal where it accepts a session (known
// at the first grab); else nothing Lumacap can grab, and the desktop's own key binding running
// `lumacap --action=capture-region` (a GNOME custom keybinding, a compositor configuration line).
struct WaylandHotKey {
  std::unique_ptr<HotKeyService> service;
  DesktopHotKey::Setup setup;
};
// `currentDesktops` as the facts read them ($XDG_CURRENT_DESKTOP).
WaylandHotKey chooseWaylandHotKey(const DesktopBackend& backend,
                                  const std::vector<std::string>& currentDesktops);

// The desktop's limits without the "shortcut does not work" one where Lumacap says how the hot
// key reaches it (that text covers a desktop without any way too).
DesktopLimits withHotKey(DesktopLimits limits, HotKeyMechanism mechanism);

}  // namespace lumacap
