#include "app/hotkey/WaylandHotKeyChoice.h"

#include "app/cli/HookHandler.h"
#include "platform/linux/GnomeKeybinding.h"
#include "platform/wayland/KeyboardLayout.h"
#include "platform/wayland/PortalHotKeyService.h"

namespace lumacap {

WaylandHotKey chooseWaylandHotKey(const DesktopBackend& backend,
                                  const std::vector<std::string>& currentDesktops) {
  WaylandHotKey chosen;
  chosen.setup.executable = currentExecutablePath(nullptr).string();
  // The layout is read at each grab: the user may have changed it since the last.
  // On a connection of its own, which names Lumacap's application id to the portal first: the
  // screenshots' requests on the shared one stay as they were.
  auto portal = std::make_unique<PortalHotKeyService>(
      [](uint32_t macKeyCode) { return KeyboardLayout::current().shiftedKeyName(macKeyCode); },
      QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("lumacap-global-shortcuts")));
  chosen.setup.mechanism = HotKeyMechanism::portal;
  chosen.setup.portal = portal.get();
  chosen.service = std::move(portal);
  // Where the portal refuses a session, the desktop's own key binding.
  if (backend.desktop == Desktop::gnome) {
    chosen.setup.fallback = HotKeyMechanism::gnomeKeybinding;
    chosen.setup.gnome = std::make_unique<GnomeKeybinding>();
  } else if ((chosen.setup.compositor = configuredCompositor(backend.desktop, currentDesktops))) {
    chosen.setup.fallback = HotKeyMechanism::compositorLine;
  }
  return chosen;
}

DesktopLimits withHotKey(DesktopLimits limits, HotKeyMechanism mechanism) {
  if (mechanism != HotKeyMechanism::none) limits.shortcut.reset();
  return limits;
}

}  // namespace lumacap
