#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Shortcut.h"

namespace lumacap {

// How the capture shortcut reaches Lumacap on this desktop.
enum class HotKeyMechanism {
  x11Grab,          // a key grab on the X server
  portal,           // org.freedesktop.portal.GlobalShortcuts accepted a session
  gnomeKeybinding,  // a GNOME custom keybinding that runs the command (added from Settings)
  compositorLine,   // a line in the compositor's configuration (wlroots desktops)
  none,             // nothing binds keys for programs here
};

// The compositors whose configuration binds keys to commands.
enum class ConfiguredCompositor { sway, hyprland, river, labwc };

enum class Desktop;

// The compositor whose configuration line Settings shows, from the desktop Lumacap detected and the
// names in $XDG_CURRENT_DESKTOP (river and labwc go by these); nothing for other desktops.
std::optional<ConfiguredCompositor> configuredCompositor(Desktop desktop,
                                                         const std::vector<std::string>& currentDesktops);

// The command a desktop binding runs: the executable's absolute path and the action
// ("capture-region", "capture-display"), quoted for a shell where the path needs it.
std::string captureCommand(const std::string& executable, const std::string& action);
inline std::string captureRegionCommand(const std::string& executable) {
  return captureCommand(executable, "capture-region");
}

// The shortcut as the GlobalShortcuts portal's trigger ("CTRL+ALT+SHIFT+LOGO+2"). Some desktops (KWin)
// match a held Shift by the symbol it produces: `shiftedKeyName` is the xkb name of the key's symbol
// with Shift on the user's layout ("at" for Shift+2 on a US keyboard); when it is not just the
// upper case of the key, the trigger names that symbol instead of SHIFT ("LOGO+at").
std::string portalTrigger(const Shortcut& shortcut, const std::optional<std::string>& shiftedKeyName);

// The accelerator GNOME's settings store: "<Shift><Super>2".
std::string gnomeAccelerator(const Shortcut& shortcut);

// Why no configuration line can run Lumacap from the path it is installed at.
enum class ConfigLineRefusal {
  notUtf8,              // the path is not UTF-8 text, which the line Settings shows cannot hold
  controlCharacter,     // a line break, a tab or another control character: no line holds one
  unquotableCharacter,  // one the compositor's syntax cannot quote (Hyprland: $ \ { }; labwc: ~)
};
// The line to add to the compositor's configuration so that the shortcut runs `executable` with
// --action=`action`, quoted for that configuration's own syntax (sway reads it twice, as
// configuration and as the binding's command, before sh runs it), or why there can be none.
struct CompositorConfigLine {
  std::string line;  // empty when refused
  std::optional<ConfigLineRefusal> refused;
};
CompositorConfigLine compositorConfigLine(ConfiguredCompositor compositor, const Shortcut& shortcut,
                                          const std::string& executable,
                                          const std::string& action = "capture-region");
// What Settings says instead of a refused line: why, and how to bind the shortcut by hand through a
// link to Lumacap from a plain path (`exampleFollows`: the line for such a link is shown below it).
std::string configLineRefusalText(ConfigLineRefusal refusal, ConfiguredCompositor compositor,
                                  const Shortcut& shortcut, bool exampleFollows);
// Where that line goes, for the text beside it.
std::string compositorConfigPlace(ConfiguredCompositor compositor);

// The name a compositor goes by in texts: "sway", "Hyprland", "river", "labwc".
std::string compositorName(ConfiguredCompositor compositor);

// What Settings and the tray say about the shortcut in force: how it reaches Lumacap, and what the
// user has to do where the desktop binds keys itself. `label` is the shortcut as Lumacap names it
// ("Shift+Super+2"), `assigned` the desktop's own name for the key it gave, `bound` whether the
// desktop-side binding is in place (a GNOME keybinding Lumacap added). Nothing on X11.
std::optional<std::string> hotKeyInForceText(HotKeyMechanism mechanism, const std::string& label,
                                             const std::optional<std::string>& assigned,
                                             std::optional<ConfiguredCompositor> compositor, bool bound);

// The settings path of the GNOME custom keybinding Lumacap adds (to the list custom-keybindings).
constexpr const char* gnomeKeybindingPath =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/lumacap/";
// The path of the keybinding for the key of one action: the one above for capture-region, one of
// its own for each other action ("…/lumacap-capture-display/").
std::string gnomeKeybindingPathFor(const std::string& action);
// The manual steps for adding the binding in GNOME's Settings.
std::string gnomeManualSteps(const Shortcut& shortcut, const std::string& command);

}  // namespace lumacap
