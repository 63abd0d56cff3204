// GNOME's one-time question whether Lumacap may take screenshots, on the
// headless GNOME Shell with nothing stored for Lumacap: Lumacap's window comes
// to the front with GNOME's dialog attached to it, and the answer is kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>

#include "support/Subprocess.h"
#include "support/WaylandTest.h"

namespace lumacap {
namespace {

using namespace std::chrono_literals;
using test::Compositor;
using test::DesktopWindow;
using test::onWayland;
using test::waitUntil;

class WaylandScreenshotPermissionTest : public test::WaylandTest {
 protected:
  void SetUp() override {
    test::WaylandTest::SetUp();
    if (IsSkipped()) return;
    // The harness grants screenshots to programs without an application id
    // (Lumacap, here): nothing is stored now, as on a first run.
    setPermission({});
    application = desktop().spawn({test::lumacapBinary()}, onWayland);
    ASSERT_TRUE(waitUntil([&] { return lumacapOwnsItsBusName(); }, 20s)) << desktop().output(*application);
    std::this_thread::sleep_for(2s);  // the name comes before the services are up
    // Without a tray Lumacap says so once in a window of its own: that one is there before.
    waitUntil([&] { return !lumacapWindows().empty(); }, 5s);
  }

  void TearDown() override {
    if (questionWindow()) desktop().key("Escape");  // a question a failed test left
    application.reset();
    if (!IsSkipped()) setPermission("yes");
  }

  // Stores `answer` for programs without an application id; none: deletes it.
  void setPermission(const std::optional<std::string>& answer) {
    std::vector<std::string> call = {"gdbus",
                                     "call",
                                     "--session",
                                     "--dest",
                                     "org.freedesktop.impl.portal.PermissionStore",
                                     "--object-path",
                                     "/org/freedesktop/impl/portal/PermissionStore",
                                     "--method"};
    if (answer) {
      call.insert(call.end(), {"org.freedesktop.impl.portal.PermissionStore.SetPermission", "screenshot",
                               "true", "screenshot", "", "['" + *answer + "']"});
    } else {
      call.insert(call.end(), {"org.freedesktop.impl.portal.PermissionStore.DeletePermission", "screenshot",
                               "screenshot", ""});
    }
    desktop().run(call);
  }

  // What the store holds: "{'': ['yes']}"-like text of Lookup's answer.
  std::string storedPermissions() {
    return desktop()
        .run({"gdbus", "call", "--session", "--dest", "org.freedesktop.impl.portal.PermissionStore",
              "--object-path", "/org/freedesktop/impl/portal/PermissionStore", "--method",
              "org.freedesktop.impl.portal.PermissionStore.Lookup", "screenshot", "screenshot"})
        .standardOutput;
  }

  std::vector<DesktopWindow> lumacapWindows() {
    std::vector<DesktopWindow> windows;
    for (const DesktopWindow& window : desktop().windows())
      if (window.pid == application->pid()) windows.push_back(window);
    return windows;
  }

  // GNOME's question: a modal dialog of the Shell on GNOME 43, a window of GNOME's portal
  // attached to Lumacap's on GNOME 48.
  bool gnomeAsks() { return questionWindow() || shellAsks(); }
  bool shellAsks() {
    for (const std::string& dialog : desktop().shellDialogs())
      if (dialog.find("to Take Screenshots?") != std::string::npos) return true;
    return false;
  }
  std::optional<DesktopWindow> questionWindow() {
    for (const DesktopWindow& window : desktop().windows())
      if (window.title.ends_with("to Take Screenshots?") && !window.geometry.isEmpty()) return window;
    return std::nullopt;
  }

  // Lumacap's window that stands in front while GNOME asks.
  std::optional<DesktopWindow> permissionWindow() {
    for (const DesktopWindow& window : lumacapWindows())
      if (window.title == "Lumacap — Screenshots") return window;
    return std::nullopt;
  }

  // Lumacap's alert: a window that was not there before the capture, other than the one above.
  bool alertShown() {
    for (const DesktopWindow& window : lumacapWindows()) {
      const bool old = std::any_of(before.begin(), before.end(), [&](const DesktopWindow& known) {
        return known.geometry == window.geometry;
      });
      if (!old && window.title == "Lumacap") return true;
    }
    return false;
  }

  // Starts a display capture: Lumacap's window comes up, and GNOME asks.
  void captureUntilGnomeAsks() {
    before = lumacapWindows();
    desktop().run({"env", "QT_QPA_PLATFORM=wayland", test::lumacapBinary(), "--action=capture-display"});
    ASSERT_TRUE(waitUntil([&] { return permissionWindow().has_value(); }, 20s))
        << "Lumacap's window did not open\n"
        << windowsListed();
    // GNOME 43 asks in a modal dialog of the Shell, in front of everything, while Lumacap's window
    // is up. (Whether that window takes the focus is the desktop's choice: a request from a
    // terminal brings no activation token.)
    ASSERT_TRUE(waitUntil([&] { return gnomeAsks(); }, 20s)) << "GNOME did not ask\n" << windowsListed();
    EXPECT_TRUE(permissionWindow().has_value()) << windowsListed();
    std::this_thread::sleep_for(1s);  // the dialog takes the keyboard once it has faded in
  }

  std::unique_ptr<test::BackgroundProcess> application;
  std::vector<DesktopWindow> before;
};

TEST_P(WaylandScreenshotPermissionTest, AllowedInGnomesDialogTheCaptureGoesOnAndTheAnswerIsKept) {
  const size_t shownBefore = desktop().notifications().size();
  captureUntilGnomeAsks();
  if (HasFatalFailure()) return;
  // Allow: the right one of the two buttons at the foot of the dialog, after Deny, which has the
  // keyboard focus: on GNOME 48's window Tab then Return, on GNOME 43's Shell dialog (centred on the
  // first output) a click.
  if (questionWindow()) {
    desktop().key("Tab");
    desktop().key("Return");
  } else
    desktop().click(640 + 122, 400 + 96);
  // The capture's card: GNOME's notification.
  ASSERT_TRUE(waitUntil([&] { return desktop().notifications().size() > shownBefore; }, 30s))
      << windowsListed() << storedPermissions() << desktop().output(*application);
  EXPECT_FALSE(gnomeAsks());
  EXPECT_FALSE(permissionWindow());
  EXPECT_NE(storedPermissions().find("'': ['yes']"), std::string::npos) << storedPermissions();
}

TEST_P(WaylandScreenshotPermissionTest, RefusedInGnomesDialogLumacapExplainsAndAsksNoMore) {
  const size_t shownBefore = desktop().notifications().size();
  captureUntilGnomeAsks();
  if (HasFatalFailure()) return;
  desktop().key("Escape");
  // Lumacap's window gives way to its alert, which says how to allow screenshots.
  ASSERT_TRUE(waitUntil([&] { return alertShown() && !permissionWindow(); }, 20s)) << windowsListed();
  EXPECT_FALSE(gnomeAsks());
  EXPECT_NE(storedPermissions().find("'': ['no']"), std::string::npos) << storedPermissions();
  // The alert's OK (Return again while the alert is still there: the first may come before its focus).
  ASSERT_TRUE(waitUntil(
      [&] {
        desktop().key("Return");
        return !alertShown();
      },
      10s))
      << windowsListed();

  // Asked again, GNOME keeps its answer: the alert at once, no question.
  desktop().run({"env", "QT_QPA_PLATFORM=wayland", test::lumacapBinary(), "--action=capture-display"});
  ASSERT_TRUE(waitUntil([&] { return alertShown(); }, 20s)) << windowsListed();
  EXPECT_FALSE(gnomeAsks());
  EXPECT_FALSE(permissionWindow());
  EXPECT_EQ(desktop().notifications().size(), shownBefore);  // nothing was captured
  desktop().key("Return");
}

INSTANTIATE_TEST_SUITE_P(Wayland, WaylandScreenshotPermissionTest, ::testing::Values(Compositor::gnome),
                         test::compositorName);

}  // namespace
}  // namespace lumacap
