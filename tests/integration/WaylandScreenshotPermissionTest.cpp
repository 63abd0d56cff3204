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
using test::waitUntil;

const std::map<std::string, std::string> onWayland{{"QT_QPA_PLATFORM", "wayland"}};

class WaylandScreenshotPermissionTest : public test::WaylandTest {
 protected:
  void SetUp() override {
    test::WaylandTest::SetUp();
    if (IsSkipped()) return;
    // The harness grants screenshots to programs without an application id
    // (Lumacap, here): nothing is stored now, as on a first run.
    setPermission({});
    application = desktop().spawn({test::lumacapBinary()}, onWayland);
    ASSERT_TRUE(waitUntil(
        [&] {
          return desktop()
                     .run({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                           "org.freedesktop.DBus.NameHasOwner", "string:org.lumacap.Lumacap"})
                     .standardOutput.find("true") != std::string::npos;
        },
        20s))
        << desktop().output(*application);
    std::this_thread::sleep_for(2s);  // the name comes before the services are up
  }

  void TearDown() override {
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

  // GNOME's dialog: a window of another program attached to Lumacap's.
  std::optional<DesktopWindow> gnomeDialog() {
    for (const DesktopWindow& window : desktop().windows())
      if (window.pid != application->pid() && window.transientFor == "Lumacap") return window;
    return std::nullopt;
  }

  // Starts a display capture; Lumacap's window and GNOME's dialog come up.
  void captureUntilGnomeAsks() {
    desktop().run({"env", "QT_QPA_PLATFORM=wayland", test::lumacapBinary(), "--action=capture-display"});
    ASSERT_TRUE(waitUntil([&] { return !lumacapWindows().empty(); }, 20s)) << "Lumacap's window did not open";
    ASSERT_TRUE(waitUntil([&] { return gnomeDialog().has_value(); }, 20s))
        << "GNOME's dialog did not come, or not attached to Lumacap's window\n"
        << desktop().output(*application);
    ASSERT_TRUE(waitUntil([&] { return gnomeDialog()->focused; }, 10s)) << "GNOME's dialog has no focus";
    permissionWindow = lumacapWindows().front().geometry;
  }

  std::unique_ptr<test::BackgroundProcess> application;
  QRect permissionWindow;
};

TEST_P(WaylandScreenshotPermissionTest, AllowedInGnomesDialogTheCaptureGoesOnAndTheAnswerIsKept) {
  const size_t shownBefore = desktop().notifications().size();
  captureUntilGnomeAsks();
  if (HasFatalFailure()) return;
  desktop().key("Return");
  // The capture's card: GNOME's notification.
  ASSERT_TRUE(waitUntil([&] { return desktop().notifications().size() > shownBefore; }, 30s))
      << desktop().output(*application);
  EXPECT_FALSE(gnomeDialog());
  EXPECT_TRUE(lumacapWindows().empty());
  EXPECT_NE(storedPermissions().find("'': ['yes']"), std::string::npos) << storedPermissions();
}

TEST_P(WaylandScreenshotPermissionTest, RefusedInGnomesDialogLumacapExplainsAndAsksNoMore) {
  const size_t shownBefore = desktop().notifications().size();
  captureUntilGnomeAsks();
  if (HasFatalFailure()) return;
  desktop().key("Escape");
  // Lumacap's window gives way to its alert (another size), which says how to allow screenshots.
  const auto alertShown = [&] {
    const auto windows = lumacapWindows();
    return windows.size() == 1 && windows.front().geometry.size() != permissionWindow.size();
  };
  ASSERT_TRUE(waitUntil(alertShown, 20s)) << desktop().output(*application);
  EXPECT_FALSE(gnomeDialog());
  EXPECT_NE(storedPermissions().find("'': ['no']"), std::string::npos) << storedPermissions();
  desktop().key("Return");  // the alert's OK
  ASSERT_TRUE(waitUntil([&] { return lumacapWindows().empty(); }, 10s));

  // Asked again, GNOME keeps its answer: the alert at once, no question.
  desktop().run({"env", "QT_QPA_PLATFORM=wayland", test::lumacapBinary(), "--action=capture-display"});
  ASSERT_TRUE(waitUntil(alertShown, 20s));
  EXPECT_FALSE(gnomeDialog());
  EXPECT_EQ(desktop().notifications().size(), shownBefore);  // nothing was captured
  desktop().key("Return");
}

INSTANTIATE_TEST_SUITE_P(Wayland, WaylandScreenshotPermissionTest, ::testing::Values(Compositor::gnome),
                         test::compositorName);

}  // namespace
}  // namespace lumacap
