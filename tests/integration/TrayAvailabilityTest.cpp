#include "app/TrayAvailability.h"

#include <gtest/gtest.h>

#include <QSystemTrayIcon>

#include "support/AwaitTask.h"
#include "support/IntegrationMain.h"

namespace lumacap {
namespace {

using namespace std::chrono_literals;
using test::processEventsUntil;

// Takes the shared server's tray away for one test and brings it back after.
class TrayAvailabilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::sharedXServer().stopSystemTray();
    ASSERT_TRUE(processEventsUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }))
        << "the tray is still there 10 s after trayer was stopped";
  }
  void TearDown() override { test::sharedXServer().startSystemTray(); }
};

TEST_F(TrayAvailabilityTest, WithoutATraySaysSoOnceAfterTheGracePeriod) {
  TrayAvailability tray(500ms);
  int told = 0;
  QObject::connect(&tray, &TrayAvailability::unavailable, [&] { ++told; });
  tray.start();
  EXPECT_EQ(told, 0);  // not before the grace period
  ASSERT_TRUE(processEventsUntil([&] { return told > 0; })) << "no word of the missing tray";
  EXPECT_FALSE(tray.isWatching());
  tray.start();
  processEventsUntil([] { return false; }, 1s);
  EXPECT_EQ(told, 1);
}

TEST_F(TrayAvailabilityTest, ATrayThatStartsLateIsNoReasonToSpeak) {
  // Generous, so that a slow machine starts trayer well within it.
  TrayAvailability tray(20s);
  int told = 0;
  QObject::connect(&tray, &TrayAvailability::unavailable, [&] { ++told; });
  tray.start();
  ASSERT_TRUE(tray.isWatching());

  test::sharedXServer().startSystemTray();
  ASSERT_TRUE(processEventsUntil([&] { return !tray.isWatching(); }, 15s)) << "the new tray went unnoticed";
  EXPECT_EQ(told, 0);

  // With the tray there from the start, there is nothing to watch.
  TrayAvailability present(0ms);
  QObject::connect(&present, &TrayAvailability::unavailable, [&] { ++told; });
  present.start();
  EXPECT_FALSE(present.isWatching());
  processEventsUntil([] { return false; }, 300ms);
  EXPECT_EQ(told, 0);
}

}  // namespace
}  // namespace lumacap
