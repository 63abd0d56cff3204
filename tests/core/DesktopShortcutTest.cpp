#include "core/DesktopShortcut.h"

#include <gtest/gtest.h>

#include "core/DesktopBackend.h"

namespace lumacap {
namespace {

Shortcut shortcut(uint32_t keyCode, const std::string& label, bool super, bool shift, bool alt, bool ctrl) {
  return Shortcut{keyCode, label, super, shift, alt, ctrl};
}

const std::string command = "/usr/bin/lumacap --action=capture-region";

TEST(PortalTrigger, namesTheShiftedSymbolWhereShiftChangesTheKeyAndKeepsShiftForLetters) {
  const Shortcut shiftSuper2 = Shortcut::initial();
  EXPECT_EQ(portalTrigger(shiftSuper2, "at"), "LOGO+at");               // US layout
  EXPECT_EQ(portalTrigger(shiftSuper2, "quotedbl"), "LOGO+quotedbl");   // German layout
  EXPECT_EQ(portalTrigger(shiftSuper2, std::nullopt), "SHIFT+LOGO+2");  // layout unknown
  // A letter's shifted symbol is its capital: the desktop matches SHIFT with the key.
  EXPECT_EQ(portalTrigger(shortcut(1, "S", true, true, false, false), "S"), "SHIFT+LOGO+s");
  EXPECT_EQ(portalTrigger(shortcut(20, "3", true, false, true, true), "numbersign"), "CTRL+ALT+LOGO+3");
}

TEST(DesktopBindings, writeTheShortcutEachDesktopsWay) {
  const Shortcut shiftSuper2 = Shortcut::initial();
  EXPECT_EQ(gnomeAccelerator(shiftSuper2), "<Shift><Super>2");
  EXPECT_EQ(gnomeAccelerator(shortcut(1, "S", false, false, true, true)), "<Control><Alt>s");
  EXPECT_EQ(compositorConfigLine(ConfiguredCompositor::sway, shiftSuper2, command),
            "bindsym Shift+Mod4+2 exec /usr/bin/lumacap --action=capture-region");
  EXPECT_EQ(
      compositorConfigLine(ConfiguredCompositor::sway, shortcut(2, "D", false, false, true, true), command),
      "bindsym Ctrl+Mod1+d exec /usr/bin/lumacap --action=capture-region");
  EXPECT_EQ(compositorConfigLine(ConfiguredCompositor::hyprland, shiftSuper2, command),
            "bind = SUPER SHIFT, 2, exec, /usr/bin/lumacap --action=capture-region");
  EXPECT_EQ(compositorConfigLine(ConfiguredCompositor::river, shiftSuper2, command),
            "riverctl map normal Super+Shift 2 spawn '/usr/bin/lumacap --action=capture-region'");
  EXPECT_EQ(compositorConfigLine(ConfiguredCompositor::labwc, shiftSuper2, command),
            "<keybind key=\"W-S-2\"><action name=\"Execute\" command=\"/usr/bin/lumacap "
            "--action=capture-region\" /></keybind>");
}

TEST(DesktopBindings, quoteAnExecutablePathThatAShellWouldSplit) {
  const std::string spaced = captureRegionCommand("/home/a b/it's/lumacap");
  EXPECT_EQ(spaced, "'/home/a b/it'\\''s/lumacap' --action=capture-region");
  EXPECT_EQ(captureRegionCommand("/usr/bin/lumacap"), command);
  // river's spawn takes the command as one shell word.
  EXPECT_EQ(compositorConfigLine(ConfiguredCompositor::river, Shortcut::initial(), spaced),
            "riverctl map normal Super+Shift 2 spawn ''\\''/home/a b/it'\\''\\'\\'''\\''s/lumacap'\\'' "
            "--action=capture-region'");
  EXPECT_NE(compositorConfigLine(ConfiguredCompositor::labwc, Shortcut::initial(), "a \"&\" b")
                .find("a &quot;&amp;&quot; b"),
            std::string::npos);
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
