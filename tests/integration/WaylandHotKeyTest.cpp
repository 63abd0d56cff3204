#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "core/CaptureError.h"
#include "core/DesktopShortcut.h"
#include "platform/linux/TesseractRecognizer.h"
#include "support/WaylandTest.h"

namespace lumacap::test {
namespace {

namespace fs = std::filesystem;

// The capture shortcut of the real application, pressed on the desktop's own seat.
class WaylandHotKeyTest : public WaylandTest {
 protected:
  void TearDown() override {
    if (application) application->stop();
  }

  // Lumacap with this shortcut (and display key) stored (the JSON of its settings), running once it
  // said which backend it chose.
  void startLumacap(const std::string& shortcut, const std::string& displayKey = {},
                    const std::string& program = lumacapBinary()) {
    const fs::path config = desktop().environment().at("XDG_CONFIG_HOME");
    {
      const AsSessionUser asUser(desktop());  // Lumacap's own file, as it writes it
      QSettings settings(QString::fromStdString((config / "Lumacap/Lumacap.conf").string()),
                         QSettings::IniFormat);
      settings.setValue("shortcut", QByteArray::fromStdString(shortcut));
      if (!displayKey.empty()) settings.setValue("displayShortcut", QByteArray::fromStdString(displayKey));
    }
    application = desktop().spawn({program});
    ASSERT_TRUE(waitUntil([&] { return log().find("lumacap: ") != std::string::npos; }, 30s)) << log();
    shades = outputShades();
  }
  std::string log() { return desktop().output(*application); }

  // KDE's record of the keys it gave: a line "id=active key,default key,description".
  std::string kdeShortcuts() {
    std::ifstream file(fs::path(desktop().environment().at("XDG_CONFIG_HOME")) / "kglobalshortcutsrc");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }
  bool kdeAssigned(const std::string& line) { return kdeShortcuts().find(line) != std::string::npos; }

  // The text the screen shows in `area`, read at twice its size.
  std::string textIn(QRect area) {
    const QImage shown = desktop().reference(area);
    std::string read;
    for (const RecognizedLine& line : TesseractRecognizer::shared()->recognize(
             shown.scaled(shown.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)))
      read += line.text + "\n";
    return read;
  }

  size_t overlays() { return regionOverlays(shades).size(); }
  bool overlayFocused() {  // (a layer-shell surface is in no list: there only Escape tells)
    for (const DesktopWindow& window : regionOverlays(shades))
      if (window.focused || window.app == "layer-shell") return true;
    return false;
  }
  // Where the desktop takes no screenshots, the key reaches Lumacap, which says it cannot capture.
  bool saysItCannotCapture(size_t said) {
    if (desktop().noScreenshots().empty()) return false;
    const std::string why = CaptureError::description(CaptureErrorKind::portalGaveNoImage);
    EXPECT_TRUE(waitUntil([&] { return log().find(why, said) != std::string::npos; }, 20s)) << log();
    return true;
  }
  void expectOverlayAfter(const std::string& chord) {
    const size_t said = log().size();
    desktop().key(chord);
    if (saysItCannotCapture(said)) return;
    EXPECT_TRUE(waitUntil([&] { return overlays() == 2; }, 20s)) << chord << " opened no overlay; " << log();
    // Escape must reach the overlay without a click first.
    EXPECT_TRUE(waitUntil([&] { return overlayFocused(); }, 10s)) << "no overlay window has the keyboard";
    desktop().key("Escape");
    EXPECT_TRUE(waitUntil([&] { return overlays() == 0; }, 10s));
  }

  std::unique_ptr<BackgroundProcess> application;
  std::vector<int> shades;  // before any overlay
};

const std::string shiftSuper2 =
    R"({"keyCode":19,"keyLabel":"2","command":true,"shift":true,"option":false,"control":false})";
const std::string altSuper3 =
    R"({"keyCode":20,"keyLabel":"3","command":true,"shift":false,"option":true,"control":false})";
const std::string altSuper4 =
    R"({"keyCode":21,"keyLabel":"4","command":true,"shift":false,"option":true,"control":false})";

class WaylandPortalHotKeyTest : public WaylandHotKeyTest {};
class WaylandConfiguredHotKeyTest : public WaylandHotKeyTest {};
class WaylandGnomeHotKeyTest : public WaylandHotKeyTest {};

// Through the GlobalShortcuts portal: Shift+Super+2 is bound as the symbol it types on the layout
// (KWin would never fire a SHIFT+LOGO+2 trigger), and a changed shortcut replaces it, also in KDE's
// shortcut settings, where the old key is free again; the display key, bound in the same session,
// captures the display and keeps its key through the change.
TEST_P(WaylandPortalHotKeyTest, portalShortcutOpensTheOverlayAndAChangedOneReplacesIt) {
  startLumacap(shiftSuper2, altSuper4);
  ASSERT_TRUE(
      waitUntil([&] { return log().find("GlobalShortcuts portal as Meta+@\n") != std::string::npos; }, 30s))
      << log();
  ASSERT_NE(log().find("Capture Display key bound through the GlobalShortcuts portal as Meta+Alt+4\n"),
            std::string::npos)
      << log();
  const size_t said = log().size();
  desktop().key("alt+super+4");
  if (!saysItCannotCapture(said)) {
    EXPECT_EQ(clipboardImage(20s).size(), QSize(1280, 800)) << log();
  }
  // (KDE writes its record a moment after it answered)
  EXPECT_TRUE(waitUntil([&] { return kdeAssigned("capture-region-logo-at=Meta+@,"); }, 10s))
      << kdeShortcuts();
  expectOverlayAfter("shift+super+2");

  application->stop();
  startLumacap(altSuper3);
  ASSERT_TRUE(waitUntil(
      [&] { return log().find("GlobalShortcuts portal as Meta+Alt+3\n") != std::string::npos; }, 30s))
      << log();
  desktop().key("shift+super+2");
  EXPECT_FALSE(waitUntil([&] { return overlays() > 0; }, 3s)) << "the old chord still captures";
  expectOverlayAfter("alt+super+3");
  EXPECT_TRUE(waitUntil([&] { return !kdeAssigned("capture-region-logo-at="); }, 10s)) << kdeShortcuts();
  EXPECT_TRUE(kdeAssigned("capture-region-alt-logo-3=Meta+Alt+3,"));
  EXPECT_TRUE(kdeAssigned("capture-display-alt-logo-4=Meta+Alt+4,"));
}

// On sway the line Settings shows, added to sway's configuration, binds the key to Lumacap and to
// nothing else, even where Lumacap's path holds what sway or sh would take for more commands.
TEST_P(WaylandConfiguredHotKeyTest, theConfigurationLineSettingsShowsStartsARegionCapture) {
  startLumacap(shiftSuper2);
  const fs::path home = desktop().environment().at("HOME");
  const fs::path folder = home /
                          "it's \"my\" ;exec cd&&touch PWNED; ,exec cd&&touch PWNED $(cd;touch PWNED) "
                          "`cd;touch PWNED` \\ \\\" \\$HOME $$ $mod # [x] {y} ~ ü";
  ASSERT_EQ(desktop().run({"mkdir", "-p", folder.string()}).exitStatus, 0);
  ASSERT_EQ(desktop().run({"ln", "-s", lumacapBinary(), (folder / "lumacap").string()}).exitStatus, 0);
  const CompositorConfigLine line =
      compositorConfigLine(ConfiguredCompositor::sway, Shortcut::initial(), (folder / "lumacap").string());
  ASSERT_FALSE(line.refused);
  const fs::path configuration = home / ".config/sway/config";
  std::ofstream(configuration, std::ios::app) << "set $mod Mod4\nset $HOME /nowhere\n" << line.line << "\n";
  // sway's own reading of the configuration: the line makes exactly one binding, without errors.
  const auto validated =
      desktop().run({"env", "WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1",
                     "sway", "-d", "--validate", "-c", configuration.string()});
  const std::string& log = validated.standardError;
  EXPECT_EQ(validated.exitStatus, 0) << log;
  size_t bindings = 0;
  for (size_t at = log.find("Bound "); at != std::string::npos; at = log.find("Bound ", at + 1)) ++bindings;
  EXPECT_EQ(bindings, 1u) << log;
  ASSERT_EQ(desktop().run({"swaymsg", "reload"}).exitStatus, 0);
  expectOverlayAfter("shift+super+2");
  EXPECT_FALSE(fs::exists(home / "PWNED"));
}

INSTANTIATE_TEST_SUITE_P(Wayland, WaylandPortalHotKeyTest, ::testing::Values(Compositor::kwin),
                         compositorName);
// GNOME 48 binds a key through its portal for an installed Lumacap (`make install` into ~/.local, its
// entry where the session looks), once the user confirmed it in GNOME Settings' dialog: then the key
// opens the overlay. (GNOME 43 has no such portal: its custom keybinding is tested elsewhere.)
TEST_P(WaylandGnomeHotKeyTest, anInstalledLumacapGetsTheKeyTheUserAddsInGnomeSettingsDialog) {
  if (!fs::exists("/usr/libexec/gnome-control-center-global-shortcuts-provider"))
    GTEST_SKIP() << "this GNOME has no GlobalShortcuts portal (GNOME Settings' provider is not installed)";
  const fs::path prefix = fs::path(desktop().environment().at("HOME")) / ".local";
  const std::shared_ptr<void> removed(nullptr, [&](void*) { fs::remove_all(prefix); });
  const auto installed =
      runProcess({"cmake", "--install", LUMACAP_BUILD_DIR, "--prefix", prefix.string()}, {}, {}, 60s);
  ASSERT_EQ(installed.exitStatus, 0) << installed.standardOutput << installed.standardError;
  startLumacap(altSuper3, {}, (prefix / "bin/lumacap").string());
  closeNoTrayNotice(*application);  // (centred, as the dialog is, and above it)
  std::optional<DesktopWindow> dialog;
  ASSERT_TRUE(waitUntil(
      [&] {
        for (const DesktopWindow& window : desktop().windows())  // (listed before it is placed)
          if (window.app == "org.gnome.Settings.GlobalShortcutsProvider" && window.focused &&
              !window.geometry.isEmpty())
            dialog = window;
        return dialog.has_value();
      },
      30s))
      << "GNOME Settings asked nothing: " << log() << windowsListed();
  EXPECT_EQ(dialog->title, "Add Keyboard Shortcuts");
  desktop().key("alt+a");  // its Add, by the mnemonic the button shows
  // (GNOME's portal answers 2, though it bound the key; the menu names the key GNOME assigned)
  ASSERT_TRUE(waitUntil(
      [&] { return log().find("GlobalShortcuts portal as Alt+Super+3\n") != std::string::npos; }, 30s))
      << log() << windowsListed();
  expectOverlayAfter("alt+super+3");
  // What the user reads: Settings names the key GNOME assigned, held by the desktop's shortcuts.
  ASSERT_EQ(desktop().run({(prefix / "bin/lumacap").string(), "--action=settings"}, 20s).exitStatus, 0);
  std::optional<DesktopWindow> settings;
  ASSERT_TRUE(waitUntil(
      [&] {
        for (const DesktopWindow& window : desktop().windows())
          if (window.title == "Lumacap Settings" && window.focused && !window.geometry.isEmpty())
            settings = window;
        return settings.has_value();
      },
      20s))
      << windowsListed();
  std::string read;
  EXPECT_TRUE(waitUntil(
      [&] {
        read = textIn(settings->geometry);
        std::erase(read, ' ');
        return read.find("Captureshortcut:Alt+Super+3throughthedesktop") != std::string::npos;
      },
      20s))
      << "Settings does not name GNOME's key: " << read;
}

INSTANTIATE_TEST_SUITE_P(Wayland, WaylandGnomeHotKeyTest, ::testing::Values(Compositor::gnome),
                         compositorName);
INSTANTIATE_TEST_SUITE_P(Wayland, WaylandConfiguredHotKeyTest, ::testing::Values(Compositor::sway),
                         compositorName);

}  // namespace
}  // namespace lumacap::test
