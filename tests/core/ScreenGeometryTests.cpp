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

// Two outputs side by side in one logical layout, the right one at scale 2.
TEST(ScreenGeometry, SpanningSelectionReadsEachDisplayAndMeetsWithoutAGap) {
  const std::vector<Rect> frames{{0, 0, 1280, 800}, {1280, 0, 1280, 800}};
  const SpanLayout sameDensity = geometry::spanLayout(frames, {1, 1}, Rect{1000, 200, 600, 300});
  EXPECT_EQ(sameDensity.output, (PixelSize{600, 300}));
  EXPECT_EQ(sameDensity.parts, (std::vector<SpanPart>{{0, {1000, 200, 280, 300}, {0, 0, 280, 300}},
                                                      {1, {0, 200, 320, 300}, {280, 0, 320, 300}}}));
  // The denser display sets the image's density; the other is scaled up.
  const SpanLayout mixed = geometry::spanLayout(frames, {1, 2}, Rect{1000.5, 200, 600, 300});
  EXPECT_EQ(mixed.output, (PixelSize{1200, 600}));
  ASSERT_EQ(mixed.parts.size(), 2u);
  EXPECT_EQ(mixed.parts[0].source, (PixelRect{1001, 200, 279, 300}));
  EXPECT_EQ(mixed.parts[1].source, (PixelRect{0, 400, 641, 600}));
  EXPECT_EQ(mixed.parts[0].placement.x + mixed.parts[0].placement.width, mixed.parts[1].placement.x);
  EXPECT_EQ(mixed.parts[1].placement.x + mixed.parts[1].placement.width, mixed.output.width);
  // Only the display it touches, and nothing for a selection off every display.
  EXPECT_EQ(geometry::spanLayout(frames, {1, 1}, Rect{1300, 10, 50, 50}).parts.size(), 1u);
  EXPECT_TRUE(geometry::spanLayout(frames, {1, 1}, Rect{3000, 0, 50, 50}).parts.empty());
}

// One portal image of the whole desktop, cut per output: the image may have another density than
// the output it is cut for.
TEST(ScreenGeometry, DesktopImageAreaFollowsTheOutputAndTheImageDensity) {
  const std::vector<Rect> frames{{0, 0, 1280, 800}, {1280, 0, 1280, 800}};
  EXPECT_EQ(geometry::desktopImageArea(frames, {2560, 800}, frames[1], 1, {10, 20, 100, 50}),
            (PixelRect{1290, 20, 100, 50}));
  // The right output at scale 2 (2560×1600 device pixels), the image at density 2 (5120×1600).
  EXPECT_EQ(geometry::desktopImageArea(frames, {5120, 1600}, frames[1], 2, {0, 0, 2560, 1600}),
            (PixelRect{2560, 0, 2560, 1600}));
  EXPECT_EQ(geometry::desktopImageArea(frames, {5120, 1600}, frames[0], 1, {0, 0, 1280, 800}),
            (PixelRect{0, 0, 2560, 1600}));
  // The same output when the portal hands over logical pixels: half as many.
  EXPECT_EQ(geometry::desktopImageArea(frames, {2560, 800}, frames[1], 2, {200, 100, 400, 200}),
            (PixelRect{1380, 50, 200, 100}));
}

}  // namespace
}  // namespace lumacap
