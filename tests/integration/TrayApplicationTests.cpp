#include <gtest/gtest.h>

#include <thread>

#include "support/IntegrationMain.h"

namespace lumacap {
namespace {

using test::sharedXServer;
using test::waitUntil;

// Started without options, lumacap sits in the system tray until "Quit Lumacap".
TEST(TrayApplicationTest, TrayIconMenuQuits) {
  auto& server = sharedXServer();
  auto& application = server.start({test::lumacapBinary()});
  // The icon is a small window of ours embedded in the tray.
  const auto icon = server.waitForWindow("lumacap", application.pid());
  ASSERT_TRUE(icon) << "no tray icon appeared";
  ASSERT_TRUE(application.running());

  const std::string window = std::to_string(*icon);
  server.run({"xdotool", "mousemove", "--window", window, "5", "5", "click", "3"});
  const auto menu = server.waitForWindow("lumacap", application.pid());
  ASSERT_TRUE(menu);
  // The menu holds one item; choose it with the keyboard.
  ASSERT_TRUE(waitUntil(
      [&] {
        server.run({"xdotool", "key", "Down", "Return"});
        return !application.running();
      },
      std::chrono::seconds(10)));
}

TEST(TrayApplicationTest, WithoutDisplayFailsInOneLine) {
  const auto result = test::runProcess({test::lumacapBinary()}, {}, {{"DISPLAY", ""}});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardOutput, "");
  EXPECT_EQ(result.standardError, "Lumacap: no X11 display to run on ($DISPLAY is not set).\n");
}

}  // namespace
}  // namespace lumacap
