#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/WaylandTest.h"

namespace lumacap::test {
namespace {

namespace fs = std::filesystem;

// The real application inside each desktop's session.
class WaylandApplicationTest : public WaylandTest {
 protected:
  void TearDown() override {
    if (application) application->stop();
    if (other) other->stop();
  }

  // Lumacap, started as from a terminal where the user exported QT_QPA_PLATFORM=xcb for other
  // programs; returns once it has chosen its backend.
  void startLumacap() {
    application = desktop().spawn({lumacapBinary()}, {{"QT_QPA_PLATFORM", "xcb"}});
    ASSERT_TRUE(waitUntil(
        [&] { return log().find("lumacap: ") != std::string::npos || !application->running(); }, 30s));
    ASSERT_TRUE(application->running()) << log();
  }
  std::string log() { return desktop().output(*application); }

  // The desktop's windows that belong to a Lumacap process (labwc tells no window's process: there
  // Lumacap's application id).
  std::vector<DesktopWindow> lumacapWindows() {
    std::vector<DesktopWindow> found;
    std::error_code error;
    const fs::path binary = fs::canonical(lumacapBinary());
    for (const DesktopWindow& window : desktop().windows())
      if (fs::read_symlink("/proc/" + std::to_string(window.pid) + "/exe", error) == binary ||
          (window.pid == 0 && window.app == "org.lumacap.Lumacap"))
        found.push_back(window);
    return found;
  }

  std::unique_ptr<BackgroundProcess> application, other;
};

std::string expectedChoice(Compositor compositor) {
  switch (compositor) {
    case Compositor::kwin:
      return "lumacap: Wayland (KWin): capture via ScreenShot2, clipboard via data-control, card via "
             "layer-shell\n";
    case Compositor::gnome:
      return "lumacap: Wayland (GNOME): capture via the Screenshot portal, clipboard via input events "
             "(focused "
             "windows only), card via notification\n";
    case Compositor::sway:
      return "lumacap: Wayland (sway): capture via screencopy, clipboard via data-control, card via "
             "layer-shell\n";
    case Compositor::labwc:
      return "lumacap: Wayland (labwc, wlroots): capture via screencopy, clipboard via data-control, card "
             "via layer-shell\n";
  }
  return {};
}

TEST_P(WaylandApplicationTest, choosesItsBackendByWhatTheDesktopOffersAndSaysSoOnce) {
  startLumacap();
  std::string line = expectedChoice(GetParam());
  if (!desktop().noScreenshots().empty()) line.replace(line.find("ScreenShot2"), 11, "the Screenshot portal");
  const std::string output = log();
  EXPECT_NE(output.find(line), std::string::npos) << output;
  EXPECT_EQ(output.find("lumacap: ", output.find(line) + 1), std::string::npos) << output;
}

TEST_P(WaylandApplicationTest, runsOnWaylandDespiteAnExportedXcbAndTakesAHandOff) {
  startLumacap();
  // With no tray on these desktops Lumacap says so in a window once it runs: a Wayland window, as
  // with no X11 display at all a Lumacap on xcb could show none.
  ASSERT_TRUE(waitUntil([&] { return lumacapWindows().size() == 1; }, 30s)) << log();
  EXPECT_EQ(log().find("QObject::"), std::string::npos) << "nothing alarming in normal use\n" << log();
  // A plain start from a shell, which has no activation token to hand over:
  // Recent Captures (no capture in hand) in front with the keyboard, also
  // when it is already open behind another window.
  const auto recentFocused = [&] {
    const auto windows = lumacapWindows();
    return std::any_of(windows.begin(), windows.end(), [](const DesktopWindow& window) {
      return window.focused && window.title == "Recent Captures";
    });
  };
  for (int start = 0; start < 2; ++start) {
    const auto handedOff = desktop().run({lumacapBinary()}, 20s);
    EXPECT_EQ(handedOff.exitStatus, 0) << handedOff.standardError;
    EXPECT_TRUE(waitUntil(recentFocused, 20s)) << "start " << start << "\n" << log() << windowsListed();
    other = desktop().spawn({LUMACAP_WAYLAND_WINDOW, "Other", "7", "400", "300"},
                            {{"QT_QPA_PLATFORM", "wayland"}});
    ASSERT_TRUE(waitUntil([&] { return !recentFocused(); }, 20s)) << "the other window took no focus";
  }
  EXPECT_TRUE(application->running());
}

TEST_P(WaylandApplicationTest, startedWithOnlyDisplayInsideTheSessionWarnsOnce) {
  const auto onlyDisplay =
      desktop().run({"env", "-u", "WAYLAND_DISPLAY", "DISPLAY=:97", lumacapBinary()}, 20s);
  const std::string& error = onlyDisplay.standardError;
  const std::string warning = "this is a Wayland session, but Lumacap was started with only DISPLAY set";
  ASSERT_NE(error.find(warning), std::string::npos) << error;
  EXPECT_EQ(error.find(warning, error.find(warning) + 1), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Wayland, WaylandApplicationTest, waylandCompositors(), compositorName);

}  // namespace
}  // namespace lumacap::test
