#include "app/AppModel.h"

#include <gtest/gtest.h>

#include "support/ModelHarness.h"

namespace lumacap {
namespace {

using test::finish;

class AppModelTest : public ::testing::Test {
 protected:
  test::ModelHarness harness;
};

TEST_F(AppModelTest, DisplayCaptureReachesClipboardAndThumbnail) {
  AppModel& model = harness.start();
  finish(model.capture(CaptureMode::display));
  ASSERT_TRUE(harness.pasteboard.image());
  EXPECT_EQ(harness.pasteboard.image()->size(), QSize(3024, 1964));
  ASSERT_TRUE(model.quickWindow());
  EXPECT_TRUE(model.quickWindow()->isVisible());
  EXPECT_FALSE(model.busy());
}

}  // namespace
}  // namespace lumacap
