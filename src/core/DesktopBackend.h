#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lumacap {

// What the session Lumacap starts in offers, gathered once at start-up.
struct DesktopFacts {
  // The session.
  bool waylandDisplay = false;  // the socket a Wayland client would connect to is live
  std::string sessionType;      // $XDG_SESSION_TYPE
  bool x11Display = false;      // $DISPLAY is set
  // Hints: only for naming the desktop; the services follow from what is offered.
  std::vector<std::string> currentDesktops;  // $XDG_CURRENT_DESKTOP, split on ':'
  // Read once here, and handed to the services that connect to them.
  std::string swaySocket;        // $SWAYSOCK
  std::string hyprlandInstance;  // $HYPRLAND_INSTANCE_SIGNATURE
  std::string runtimeFolder;     // $XDG_RUNTIME_DIR
  // Session-bus names that have an owner or can be started (org.kde.KWin, org.gnome.Shell,
  // org.freedesktop.Notifications).
  std::set<std::string> busNames;
  bool kwinScreenShot2 = false;  // KWin exports org.kde.KWin.ScreenShot2
  // The Wayland globals from one registry round trip (interface names).
  std::set<std::string> waylandGlobals;
  // Portal interfaces whose call succeeded: exported interfaces may still fail every call.
  std::set<std::string> workingPortals;

  bool operator==(const DesktopFacts&) const = default;
};

enum class Session { x11, wayland, none };
enum class Desktop { x11, kwin, gnome, sway, hyprland, wlroots, otherWayland, none };
enum class CaptureMechanism { x11, kwinScreenShot2, wlrScreencopy, portal, none };
enum class ClipboardMechanism { x11, dataControl, inputHandler };
enum class CardMechanism { x11Window, layerShell, notification, none };

// The platform services Lumacap runs on, chosen from the facts. The clipboard
// and the card are then built on the session's own connection, and the
// record is updated to what was built.
struct DesktopBackend {
  Session session = Session::none;
  Desktop desktop = Desktop::none;
  CaptureMechanism capture = CaptureMechanism::none;
  ClipboardMechanism clipboard = ClipboardMechanism::inputHandler;
  CardMechanism card = CardMechanism::none;
  // Started with only $DISPLAY inside a Wayland session: it runs on X11 (Xwayland) and says so.
  bool x11InsideWayland = false;
  // A wlroots desktop's own name, for texts: the first of $XDG_CURRENT_DESKTOP ("labwc" of
  // "labwc:wlroots") when it is a plain word; empty otherwise.
  std::string compositorName;

  bool operator==(const DesktopBackend&) const = default;
};

// Session first: Wayland whenever a Wayland display answers, X11 only without one.
Session chooseSession(const DesktopFacts& facts);
DesktopBackend chooseBackend(const DesktopFacts& facts);

// "lumacap: Wayland (KWin): capture via ScreenShot2, clipboard via data-control, card via layer-shell"
std::string backendLogLine(const DesktopBackend& backend);
// The one warning for a start with only $DISPLAY inside a Wayland session; nothing otherwise.
std::optional<std::string> sessionWarning(const DesktopBackend& backend);

// Why the capture shortcut cannot be taken on this desktop, and what to do instead.
constexpr const char* shortcutUnavailableText =
    "The capture shortcut does not work on this desktop yet. Capture from the tray menu, or bind a desktop "
    "shortcut to “lumacap --action=capture-region”.";

// Why captures on KDE Plasma go through the Screenshot portal when KWin refuses its own interface.
constexpr const char* kwinScreenShotRefusedText =
    "KWin lends its screenshot interface only to a Lumacap installed with its desktop entry (make install, "
    "or the Debian package), and this one is not: captures go through the desktop’s Screenshot portal "
    "instead, which may ask first.";
// The same for Settings, with what to do.
constexpr const char* kwinScreenShotRefusedLimit =
    "Captures go through the desktop’s Screenshot portal, which may ask first: KWin lends its own "
    "screenshot interface only to an installed Lumacap. Install Lumacap (make install, or the Debian "
    "package) to capture without asking.";

// What does not work on this desktop, each with what to do, for Settings and the tray tooltip.
struct DesktopLimits {
  std::optional<std::string> shortcut;  // the global capture shortcut
  std::optional<std::string> windows;   // Capture Window… and returning to the agent's terminal
  std::optional<std::string> capture;
  std::optional<std::string> clipboard;
  std::optional<std::string> pin;  // a pinned capture (Settings only)
  // The tooltip of Capture Window… where it opens the desktop's own screenshot interface.
  std::optional<std::string> windowChooser;
  std::vector<std::string> all() const;
  bool operator==(const DesktopLimits&) const = default;
};
DesktopLimits limitsOf(const DesktopBackend& backend);

// The session part of the facts, from the environment (`variable` reads one; nothing when unset)
// and, for the Wayland socket, the file system.
DesktopFacts sessionFacts(const std::function<std::optional<std::string>(const char*)>& variable);

}  // namespace lumacap
