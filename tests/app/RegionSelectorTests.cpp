#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>

#include "app/RegionSelector.h"
#include "support/AwaitTask.h"

namespace lumacap {
namespace {

void mouse(QWidget* view, QEvent::Type type, QPointF at) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, at, view->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
  QApplication::sendEvent(view, &event);
}

void drag(QWidget* view, QPointF from, QPointF to) {
  mouse(view, QEvent::MouseButtonPress, from);
  mouse(view, QEvent::MouseMove, (from + to) / 2);
  mouse(view, QEvent::MouseMove, to);
  mouse(view, QEvent::MouseButtonRelease, to);
}

void press(QWidget* view, int key) {
  QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(view, &event);
}

// A selector on the offscreen screen, recording each completion.
struct Overlay {
  std::vector<std::optional<RegionSelection>> completions;
  RegionSelector selector{
      [this](std::optional<RegionSelection> selection) { completions.push_back(selection); }};

  Overlay() { selector.show({OverlayScreen{QGuiApplication::primaryScreen(), 7, {}}}); }
  SelectionView* view() const { return selector.windows().at(0)->view(); }
};

TEST(RegionSelector, CoversTheScreenWithOneTitledWindow) {
  Overlay overlay;
  ASSERT_EQ(overlay.selector.windows().size(), 1u);
  SelectionWindow* window = overlay.selector.windows().front();
  EXPECT_EQ(window->geometry(), QGuiApplication::primaryScreen()->geometry());
  EXPECT_EQ(window->windowTitle(), "Select Region — Esc to Cancel");
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(overlay.view()->cursor().shape(), Qt::CrossCursor);
}

TEST(RegionSelector, DragReportsTheRectangleWhicheverWayItGoes) {
  Overlay forward;
  drag(forward.view(), {100, 50}, {300, 250});
  ASSERT_EQ(forward.completions.size(), 1u);
  ASSERT_TRUE(forward.completions[0]);
  EXPECT_EQ(*forward.completions[0], (RegionSelection{7, Rect{100, 50, 200, 200}}));

  Overlay backward;
  drag(backward.view(), {300, 250}, {100, 50});
  ASSERT_EQ(backward.completions.size(), 1u);
  EXPECT_EQ(backward.completions[0], forward.completions[0]);
  EXPECT_TRUE(backward.selector.windows().empty());
}

TEST(RegionSelector, DragLeavingTheScreenIsClippedToIt) {
  Overlay overlay;
  const QSize size = overlay.view()->size();
  drag(overlay.view(), {double(size.width()) - 50, 20}, {double(size.width()) + 300, -40});
  ASSERT_EQ(overlay.completions.size(), 1u);
  EXPECT_EQ(overlay.completions[0]->rect, (Rect{double(size.width()) - 50, 0, 50, 20}));
}

TEST(RegionSelector, TooSmallDragOrClickResetsAndWaitsForAnother) {
  Overlay overlay;
  SelectionView* view = overlay.view();
  drag(view, {100, 100}, {102, 300});  // 2 × 200
  EXPECT_TRUE(overlay.completions.empty());
  EXPECT_FALSE(view->anchor());
  EXPECT_FALSE(view->selection());
  EXPECT_EQ(overlay.selector.windows().size(), 1u);

  mouse(view, QEvent::MouseButtonPress, {40, 40});  // a click without movement
  mouse(view, QEvent::MouseButtonRelease, {40, 40});
  EXPECT_TRUE(overlay.completions.empty());
  EXPECT_FALSE(view->selection());

  drag(view, {10, 10}, {13, 13});  // exactly 3 × 3
  ASSERT_EQ(overlay.completions.size(), 1u);
  EXPECT_EQ(overlay.completions[0]->rect, (Rect{10, 10, 3, 3}));
}

TEST(RegionSelector, PressClearsTheSelectionUntilTheNextMove) {
  Overlay overlay;
  SelectionView* view = overlay.view();
  mouse(view, QEvent::MouseButtonPress, {100, 100});
  EXPECT_EQ(view->anchor(), (Point{100, 100}));
  EXPECT_FALSE(view->selection());
  mouse(view, QEvent::MouseMove, {150, 120});
  EXPECT_EQ(view->selection(), (Rect{100, 100, 50, 20}));
}

TEST(RegionSelector, EscapeCancelsOnceAndClosesEveryWindow) {
  Overlay overlay;
  QPointer<SelectionWindow> window = overlay.selector.windows().front();
  mouse(overlay.view(), QEvent::MouseButtonPress, {100, 100});
  press(overlay.view(), Qt::Key_Escape);
  ASSERT_EQ(overlay.completions.size(), 1u);
  EXPECT_FALSE(overlay.completions[0]);
  EXPECT_TRUE(overlay.selector.windows().empty());
  ASSERT_TRUE(window);
  EXPECT_FALSE(window->isVisible());
  // Later reports are ignored: the windows are on their way out.
  press(window->view(), Qt::Key_Escape);
  drag(window->view(), {10, 10}, {100, 100});
  EXPECT_EQ(overlay.completions.size(), 1u);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window.isNull());
}

TEST(RegionSelector, OtherKeysDoNothing) {
  Overlay overlay;
  press(overlay.view(), Qt::Key_A);
  press(overlay.view(), Qt::Key_Return);
  EXPECT_TRUE(overlay.completions.empty());
}

TEST(RegionSelector, GoingAwayWhileUpCancels) {
  std::vector<std::optional<RegionSelection>> completions;
  {
    RegionSelector selector(
        [&](std::optional<RegionSelection> selection) { completions.push_back(selection); });
    selector.show({OverlayScreen{QGuiApplication::primaryScreen(), 7, {}}});
  }
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_FALSE(completions[0]);
}

TEST(RegionSelector, NoScreensCompletesWithNothing) {
  std::vector<std::optional<RegionSelection>> completions;
  RegionSelector selector(
      [&](std::optional<RegionSelection> selection) { completions.push_back(selection); });
  selector.show({});
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_FALSE(completions[0]);
}

// The frozen screen shows through the selection undimmed and is dimmed
// elsewhere; a white outline marks the edge.
TEST(RegionSelector, DrawsTheFrozenScreenDimmedAroundTheSelection) {
  const QSize size = QGuiApplication::primaryScreen()->geometry().size();
  QImage backdrop(size, QImage::Format_RGB32);
  backdrop.fill(QColor(200, 100, 50));
  std::vector<std::optional<RegionSelection>> completions;
  RegionSelector selector(
      [&](std::optional<RegionSelection> selection) { completions.push_back(selection); });
  selector.show({OverlayScreen{QGuiApplication::primaryScreen(), 7, backdrop}});
  SelectionView* view = selector.windows().front()->view();
  mouse(view, QEvent::MouseButtonPress, {100, 100});
  mouse(view, QEvent::MouseMove, {400, 300});
  const QImage shot = view->grab().toImage();
  EXPECT_EQ(shot.pixelColor(250, 150), QColor(200, 100, 50));  // inside: undimmed
  const QColor outside = shot.pixelColor(50, 500);
  EXPECT_NEAR(outside.red(), 140, 2);  // 200 × 0.7
  EXPECT_NEAR(outside.green(), 70, 2);
  EXPECT_GT(shot.pixelColor(250, 100).blue(), 180);  // the white outline (blue is 50 inside)
}

}  // namespace
}  // namespace lumacap
