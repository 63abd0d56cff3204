#include <gtest/gtest.h>

#include <QImage>
#include <sstream>

#include "support/WaylandTest.h"

namespace lumacap::test {
namespace {

// The test desktops themselves: what every Wayland end-to-end test relies on.
class WaylandDesktopTest : public WaylandTest {
 protected:
  // The probe's report lines so far.
  std::vector<std::string> reports(const BackgroundProcess& probe) {
    std::vector<std::string> lines;
    std::istringstream output(desktop().output(probe));
    for (std::string line; std::getline(output, line);) lines.push_back(line);
    return lines;
  }
  bool reported(const BackgroundProcess& probe, const std::string& line) {
    const auto lines = reports(probe);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

TEST_P(WaylandDesktopTest, offersTwoOutputsSideBySideThatTheReferenceCaptures) {
  LUMACAP_SKIP_WITHOUT_SCREENSHOTS();
  const QImage whole = desktop().reference(QRect(0, 0, 2560, 800));
  EXPECT_EQ(whole.size(), QSize(2560, 800));
}

TEST_P(WaylandDesktopTest, clipboardRoundTripsThroughWlCopyAndWlPaste) {
  auto probe = startProbe();  // GNOME gives the clipboard only to a client of a focused surface
  const auto copied = desktop().run({"wl-copy", "--type", "text/plain", "from the test"});
  ASSERT_EQ(copied.exitStatus, 0) << copied.standardError;
  EXPECT_EQ(desktop().clipboard("text/plain"), "from the test");
  EXPECT_TRUE(desktop().clipboard("image/png").isEmpty());
}

TEST_P(WaylandDesktopTest, aDragAcrossBothOutputsReachesTheClientAtItsGlobalPositions) {
  auto probe = startProbe();
  desktop().drag({300, 200}, {1700, 500});
  EXPECT_TRUE(waitUntil([&] { return reported(*probe, "release 1700 500"); })) << desktop().output(*probe);
  EXPECT_TRUE(reported(*probe, "press 300 200")) << desktop().output(*probe);
}

TEST_P(WaylandDesktopTest, keysReachTheFocusedClient) {
  auto probe = startProbe();
  desktop().click(640, 400);
  desktop().key("Escape");
  desktop().key("shift+a");
  EXPECT_TRUE(waitUntil([&] { return reported(*probe, "key A"); })) << desktop().output(*probe);
  EXPECT_TRUE(reported(*probe, "key Esc")) << desktop().output(*probe);
}

// (startProbe waits until the desktop lists the probe's two windows, placed, one focused by a click)
TEST_P(WaylandDesktopTest, listsTheWindowsWithTheirProcessAndFocus) { startProbe(); }

TEST_P(WaylandDesktopTest, recordsTheNotificationsShown) {
  const std::vector<std::string> before = desktop().notifications();
  const auto shown =
      desktop().run({"gdbus", "call", "--session", "--dest", "org.freedesktop.Notifications", "--object-path",
                     "/org/freedesktop/Notifications", "--method", "org.freedesktop.Notifications.Notify",
                     "test", "0", "", "Screenshot copied", "Paste it\nwhere you like", "[]", "{}", "5000"});
  ASSERT_EQ(shown.exitStatus, 0) << shown.standardError;
  const std::vector<std::string> expected = {"Screenshot copied", "Paste it\nwhere you like"};
  // (what other tests showed on this desktop comes first)
  const auto shownSince = [&] {
    std::vector<std::string> texts = desktop().notifications();
    texts.erase(texts.begin(), texts.begin() + std::min(texts.size(), before.size()));
    return texts;
  };
  EXPECT_TRUE(waitUntil([&] { return shownSince() == expected; })) << ::testing::PrintToString(shownSince());
}

INSTANTIATE_TEST_SUITE_P(Wayland, WaylandDesktopTest, waylandCompositors(), compositorName);

}  // namespace
}  // namespace lumacap::test
