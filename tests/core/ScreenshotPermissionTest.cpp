#include "core/ScreenshotPermission.h"

#include <gtest/gtest.h>

#include "core/CaptureError.h"

namespace lumacap {
namespace {

TEST(ScreenshotPermission, OnlyAStoredYesOrNoSpareTheQuestion) {
  EXPECT_EQ(screenshotPermissionOf({"yes"}), ScreenshotPermission::granted);
  EXPECT_EQ(screenshotPermissionOf({"no"}), ScreenshotPermission::refused);
  EXPECT_EQ(screenshotPermissionOf({"ask"}), ScreenshotPermission::unset);
  EXPECT_EQ(screenshotPermissionOf({}), ScreenshotPermission::unset);
}

TEST(ScreenshotPermission, TheApplicationIdComesFromTheSystemdUserUnitAsThePortalReadsIt) {
  const auto cgroup = [](const std::string& path) { return "0::" + path + "\n"; };
  const std::string user = "/user.slice/user-1000.slice/user@1000.service/app.slice/";
  EXPECT_EQ(portalApplicationID(cgroup(user + "app-gnome-org.lumacap.Lumacap-1234.scope")),
            "org.lumacap.Lumacap");
  EXPECT_EQ(portalApplicationID(cgroup(user + "app-org.lumacap.Lumacap@3f2a.service")),
            "org.lumacap.Lumacap");
  EXPECT_EQ(portalApplicationID(cgroup(user + "app-gnome-org.lumacap.Lumacap-autostart.service")),
            "org.lumacap.Lumacap");
  // Slices below the user manager are passed over, as systemd does.
  EXPECT_EQ(portalApplicationID(cgroup(user + "app-gnome.slice/app-gnome-org.lumacap.Lumacap-77.scope")),
            "org.lumacap.Lumacap");
  // The portal wants an id of at least three parts.
  EXPECT_EQ(portalApplicationID(cgroup(user + "app-gnome-lumacap-1234.scope")), "");
  // Started from a terminal, in the login session, or without systemd: no id.
  EXPECT_EQ(portalApplicationID(cgroup(user + "vte-spawn-5a1b.scope")), "");
  EXPECT_EQ(portalApplicationID(cgroup("/user.slice/user-1000.slice/session-2.scope")), "");
  EXPECT_EQ(portalApplicationID(cgroup("/")), "");
  EXPECT_EQ(portalApplicationID(""), "");
  // Only the unified hierarchy counts, wherever its line is.
  EXPECT_EQ(portalApplicationID("1:name=systemd:/init.scope\n" + cgroup(user + "app-gnome-org.a.B-1.scope")),
            "org.a.B");
}

TEST(ScreenshotPermission, ParentWindowAndRefusalNameWhatThePortalAndTheUserNeed) {
  EXPECT_EQ(waylandParentWindow("6b3c1d2e-x"), "wayland:6b3c1d2e-x");
  EXPECT_EQ(waylandParentWindow(""), "");
  const std::string named = CaptureError::refusedOnGnome("org.lumacap.Lumacap").what();
  EXPECT_NE(named.find("Settings → Applications"), std::string::npos);
  EXPECT_NE(named.find("flatpak permission-set screenshot screenshot org.lumacap.Lumacap yes"),
            std::string::npos);
  // Without an id, Settings lists nothing for Lumacap.
  const std::string unnamed = CaptureError::refusedOnGnome("").what();
  EXPECT_EQ(unnamed.find("Settings"), std::string::npos);
  EXPECT_NE(unnamed.find("flatpak permission-set screenshot screenshot '' yes"), std::string::npos);
}

}  // namespace
}  // namespace lumacap
