#include "core/DesktopShortcut.h"

#include <gtest/gtest.h>

#include "core/DesktopBackend.h"

namespace lumacap {
namespace {

Shortcut shortcut(uint32_t keyCode, const std::string& label, bool super, bool shift, bool alt, bool ctrl) {
  return Shortcut{keyCode, label, super, shift, alt, ctrl};
}

TEST(PortalTrigger, namesTheShiftedSymbolWhereShiftChangesTheKeyAndKeepsShiftForLetters) {
  const Shortcut shiftSuper2 = Shortcut::initial();
  EXPECT_EQ(portalTrigger(shiftSuper2, "at"), "LOGO+at");               // US layout
  EXPECT_EQ(portalTrigger(shiftSuper2, "quotedbl"), "LOGO+quotedbl");   // German layout
  EXPECT_EQ(portalTrigger(shiftSuper2, std::nullopt), "SHIFT+LOGO+2");  // layout unknown
  // A letter's shifted symbol is its capital: the desktop matches SHIFT with the key.
  EXPECT_EQ(portalTrigger(shortcut(1, "S", true, true, false, false), "S"), "SHIFT+LOGO+s");
  EXPECT_EQ(portalTrigger(shortcut(20, "3", true, false, true, true), "numbersign"), "CTRL+ALT+LOGO+3");
}

std::string lineFor(ConfiguredCompositor compositor, const Shortcut& shortcut,
                    const std::string& executable) {
  const CompositorConfigLine line = compositorConfigLine(compositor, shortcut, executable);
  EXPECT_FALSE(line.refused) << executable;
  return line.line;
}

TEST(DesktopBindings, writeTheShortcutEachDesktopsWay) {
  const Shortcut shiftSuper2 = Shortcut::initial();
  EXPECT_EQ(gnomeAccelerator(shiftSuper2), "<Shift><Super>2");
  EXPECT_EQ(gnomeAccelerator(shortcut(1, "S", false, false, true, true)), "<Control><Alt>s");
  const std::string lumacap = "/usr/bin/lumacap";
  EXPECT_EQ(lineFor(ConfiguredCompositor::sway, shiftSuper2, lumacap),
            "bindsym Shift+Mod4+2 exec /usr/bin/lumacap --action=capture-region");
  EXPECT_EQ(lineFor(ConfiguredCompositor::sway, shortcut(2, "D", false, false, true, true), lumacap),
            "bindsym Ctrl+Mod1+d exec /usr/bin/lumacap --action=capture-region");
  EXPECT_EQ(lineFor(ConfiguredCompositor::hyprland, shiftSuper2, lumacap),
            "bind = SUPER SHIFT, 2, exec, /usr/bin/lumacap --action=capture-region");
  EXPECT_EQ(lineFor(ConfiguredCompositor::river, shiftSuper2, lumacap),
            "riverctl map normal Super+Shift 2 spawn '/usr/bin/lumacap --action=capture-region'");
  EXPECT_EQ(lineFor(ConfiguredCompositor::labwc, shiftSuper2, lumacap),
            "<keybind key=\"W-S-2\"><action name=\"Execute\" command=\"/usr/bin/lumacap "
            "--action=capture-region\" /></keybind>");
}

// (The sway line for such a path goes to the real sway in the Wayland hot-key test.)
TEST(DesktopBindings, quoteAnExecutablePathInEachConfigurationsSyntax) {
  const std::string spaced = "/home/a b/it's #1/lumacap";
  EXPECT_EQ(captureRegionCommand(spaced), "'/home/a b/it'\\''s #1/lumacap' --action=capture-region");
  EXPECT_EQ(captureRegionCommand("/usr/bin/lumacap"), "/usr/bin/lumacap --action=capture-region");
  // river's spawn takes the command as one shell word.
  EXPECT_EQ(lineFor(ConfiguredCompositor::river, Shortcut::initial(), spaced),
            "riverctl map normal Super+Shift 2 spawn ''\\''/home/a b/it'\\''\\'\\'''\\''s #1/lumacap'\\'' "
            "--action=capture-region'");
  // Hyprland takes a # for a comment unless it is doubled.
  EXPECT_EQ(lineFor(ConfiguredCompositor::hyprland, Shortcut::initial(), spaced),
            "bind = SUPER SHIFT, 2, exec, '/home/a b/it'\\''s ##1/lumacap' --action=capture-region");
  EXPECT_NE(lineFor(ConfiguredCompositor::labwc, Shortcut::initial(), "/a \"&\" b")
                .find("'/a &quot;&amp;&quot; b'"),
            std::string::npos);
}

TEST(DesktopBindings, aPathNoLineCanCarryIsRefusedWithTheReason) {
  using enum ConfigLineRefusal;
  const std::vector<std::pair<std::string, std::optional<ConfigLineRefusal>>> paths = {
      {"/opt/x\nexec touch PWNED/lumacap", controlCharacter},
      {"/opt/tab\there/lumacap", controlCharacter},
      {"/opt/\xc2\x85/lumacap", controlCharacter},
      {"/opt/\xff/lumacap", notUtf8}};
  for (const ConfiguredCompositor compositor : {ConfiguredCompositor::sway, ConfiguredCompositor::hyprland,
                                                ConfiguredCompositor::river, ConfiguredCompositor::labwc}) {
    for (const auto& [path, refusal] : paths) {
      const CompositorConfigLine line = compositorConfigLine(compositor, Shortcut::initial(), path);
      EXPECT_EQ(line.refused, refusal) << path;
      EXPECT_EQ(line.line, "");
    }
  }
  EXPECT_EQ(
      compositorConfigLine(ConfiguredCompositor::hyprland, Shortcut::initial(), "/opt/$HOME/lumacap").refused,
      unquotableCharacter);
  EXPECT_EQ(compositorConfigLine(ConfiguredCompositor::labwc, Shortcut::initial(), "/opt/~x/lumacap").refused,
            unquotableCharacter);
  EXPECT_FALSE(
      compositorConfigLine(ConfiguredCompositor::sway, Shortcut::initial(), "/opt/$HOME/~x").refused);
  const std::string text =
      configLineRefusalText(unquotableCharacter, ConfiguredCompositor::hyprland, Shortcut::initial(), true);
  EXPECT_NE(text.find("Hyprland would change in a command ($ \\ { })"), std::string::npos) << text;
  EXPECT_NE(text.find("~/.local/bin/lumacap"), std::string::npos) << text;
}

TEST(ConfiguredCompositor, followsTheDetectedDesktopThenTheCurrentDesktopNames) {
  EXPECT_EQ(configuredCompositor(Desktop::sway, {}), ConfiguredCompositor::sway);
  EXPECT_EQ(configuredCompositor(Desktop::hyprland, {}), ConfiguredCompositor::hyprland);
  EXPECT_EQ(configuredCompositor(Desktop::wlroots, {"river"}), ConfiguredCompositor::river);
  EXPECT_EQ(configuredCompositor(Desktop::wlroots, {"labwc", "wlroots"}), ConfiguredCompositor::labwc);
  EXPECT_EQ(configuredCompositor(Desktop::wlroots, {"wlroots"}), std::nullopt);
  EXPECT_EQ(configuredCompositor(Desktop::kwin, {"river"}), std::nullopt);
  EXPECT_EQ(configuredCompositor(Desktop::gnome, {"GNOME"}), std::nullopt);
}

TEST(HotKeyInForceText, saysHowTheShortcutReachesLumacapAndWhatIsLeftToDo) {
  EXPECT_EQ(hotKeyInForceText(HotKeyMechanism::x11Grab, "Shift+Super+2", {}, {}, false), std::nullopt);
  EXPECT_EQ(hotKeyInForceText(HotKeyMechanism::portal, "Shift+Super+2", "Meta+@", {}, false),
            "Capture shortcut: Shift+Super+2 through the desktop’s global shortcuts, which names it Meta+@.");
  EXPECT_EQ(hotKeyInForceText(HotKeyMechanism::gnomeKeybinding, "Shift+Super+2", {}, {}, true),
            "Capture shortcut: Shift+Super+2 through a GNOME keyboard shortcut that runs Lumacap.");
  EXPECT_NE(hotKeyInForceText(HotKeyMechanism::gnomeKeybinding, "Shift+Super+2", {}, {}, false)
                ->find("add a GNOME"),
            std::string::npos);
  EXPECT_EQ(hotKeyInForceText(HotKeyMechanism::compositorLine, "Shift+Super+2", {},
                              ConfiguredCompositor::river, false)
                ->rfind("river binds keys", 0),
            0u);
  EXPECT_EQ(hotKeyInForceText(HotKeyMechanism::none, "Shift+Super+2", {}, {}, false),
            shortcutUnavailableText);
}

}  // namespace
}  // namespace lumacap
