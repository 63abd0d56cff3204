#include <gtest/gtest.h>

#include "core/ScreenGeometry.h"

namespace lumacap {
namespace {

TEST(ScreenGeometry, SpannedRectangleIsTheSameWhicheverWayTheDragGoes) {
  const Rect forward = geometry::spanned({100, 50}, {300, 250});
  EXPECT_EQ(forward, (Rect{100, 50, 200, 200}));
  EXPECT_EQ(geometry::spanned({300, 250}, {100, 50}), forward);
  EXPECT_EQ(geometry::spanned({300, 50}, {100, 250}), forward);
}

TEST(ScreenGeometry, DisplayPathRoundsHalvesAwayFromZeroWindowPathTruncates) {
  EXPECT_EQ(geometry::roundedPixels(100.25, 2), 201);  // 200.5 → 201
  EXPECT_EQ(geometry::roundedPixels(100.2, 2), 200);   // 200.4 → 200
  EXPECT_EQ(geometry::roundedPixels(1.5, 1), 2);
  EXPECT_EQ(geometry::truncatedPixels(100.25, 2), 200);
  EXPECT_EQ(geometry::truncatedPixels(100.49, 1), 100);
  EXPECT_EQ(geometry::truncatedPixels(0.3, 2), 1);  // never below one pixel
  EXPECT_EQ(geometry::truncatedPixels(0, 2), 1);
  // 333 pixels at 1.25 are 266.4 points; the way back must not lose a pixel.
  EXPECT_EQ(geometry::truncatedPixels(333 / 1.25, 1.25), 333);
}

TEST(ScreenGeometry, DisplayTargetSourceNeverLeavesTheDisplay) {
  // At 1.5, 0.5-point origins and sizes round up on both ends.
  const auto target = geometry::displayTarget(101, 101, 1.5, Rect{97.5, 97.5, 3.5, 3.5});
  ASSERT_TRUE(target);
  EXPECT_EQ(target->output, (PixelSize{5, 5}));  // 5.25 → 5
  EXPECT_LE(target->source.x + target->source.width, 152);
  EXPECT_LE(target->source.y + target->source.height, 152);
}

TEST(ScreenGeometry, FramesKeepTheNativeOriginAndScaleOnlyTheSize) {
  const PixelRect second{1280, 0, 1280, 800};
  EXPECT_EQ(geometry::frameInPoints(second, 2), (Rect{1280, 0, 640, 400}));
  EXPECT_EQ(geometry::nativeRect(Rect{1280, 0, 640, 400}, 2), second);
  // A window 100 pixels into the second display is 50 points into it.
  EXPECT_EQ(geometry::windowFrameInPoints(PixelRect{1380, 200, 400, 300}, second, 2),
            (Rect{1330, 100, 200, 150}));
}

TEST(ScreenGeometry, PointerPicksTheFirstFrameHoldingIt) {
  const std::vector<Rect> frames{{0, 0, 640, 800}, {640, 0, 640, 800}};
  EXPECT_EQ(geometry::frameContaining(frames, {10, 10}), 0u);
  EXPECT_EQ(geometry::frameContaining(frames, {640, 10}), 1u);
  EXPECT_EQ(geometry::frameContaining(frames, {-1, 10}), std::nullopt);
  EXPECT_EQ(geometry::frameContaining(frames, {1280, 10}), std::nullopt);
}

TEST(ScreenGeometry, LabelsShowWholePointsAndStayOnScreen) {
  EXPECT_EQ(geometry::sizeLabel({0, 0, 640, 480}), "640 × 480");
  EXPECT_EQ(geometry::sizeLabel({5, 5, 199.6, 3.99}), "199 × 3");
  const Rect bounds{0, 0, 1280, 800};
  EXPECT_EQ(geometry::hintLabelPosition(bounds), (Point{500, 44}));
  EXPECT_EQ(geometry::hintLabelPosition({0, 0, 200, 100}), (Point{20, 44}));
  EXPECT_EQ(geometry::sizeLabelPosition({100, 100, 200, 100}, bounds), (Point{100, 210}));
  EXPECT_EQ(geometry::sizeLabelPosition({1200, 700, 80, 95}, bounds), (Point{1120, 760}));
}

}  // namespace
}  // namespace lumacap
