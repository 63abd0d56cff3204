#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include "app/capture/RegionSelector.h"

namespace lumacap {
namespace {

void sendMouse(QWidget* view, QEvent::Type type, QPointF at) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, at, view->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
  QApplication::sendEvent(view, &event);
}

// Two outputs side by side (0,0 and 1280,0, 1280×800 each), as on Wayland:
// the view a drag starts in keeps the pointer, and reports positions past its
// own edge while the pointer is over the other output.
struct TwoViews {
  QWidget left{nullptr};
  QWidget right{nullptr};
  SelectionView* leftView = new SelectionView({}, &left);
  SelectionView* rightView = new SelectionView({}, &right);
  std::optional<Rect> finished;
  std::optional<Rect> shownGlobal;

  TwoViews() {
    for (SelectionView* view : {leftView, rightView}) view->resize(1280, 800);
    const Rect reach{0, 0, 2560, 800};
    leftView->shareSelection(Point{0, 0}, reach);
    rightView->shareSelection(Point{1280, 0}, reach);
    leftView->moved = [this](const Rect& global) {
      shownGlobal = global;
      rightView->showSharedSelection(global);
    };
    leftView->selected = [this](std::optional<Rect> rect) { finished = rect; };
  }
};

TEST(SharedSelection, DragAcrossTheEdgeReachesTheNeighbour) {
  TwoViews views;
  sendMouse(views.leftView, QEvent::MouseButtonPress, {1000, 200});
  sendMouse(views.leftView, QEvent::MouseMove, {1600, 500});
  EXPECT_EQ(views.shownGlobal, (Rect{1000, 200, 600, 300}));
  EXPECT_EQ(views.rightView->selection(), (Rect{-280, 200, 600, 300}));
  sendMouse(views.leftView, QEvent::MouseButtonRelease, {1600, 500});
  // In the points of the display the drag started on, reaching past its edge.
  EXPECT_EQ(views.finished, (Rect{1000, 200, 600, 300}));
}

TEST(SharedSelection, DragStopsAtTheLayoutsEdgeAndLeavesUntouchedViewsClear) {
  TwoViews views;
  sendMouse(views.leftView, QEvent::MouseButtonPress, {100, 100});
  sendMouse(views.leftView, QEvent::MouseMove, {4000, 900});
  EXPECT_EQ(views.shownGlobal, (Rect{100, 100, 2460, 700}));
  sendMouse(views.leftView, QEvent::MouseMove, {300, 300});
  EXPECT_FALSE(views.rightView->selection());  // back inside the left output only
}

TEST(SharedSelection, WithoutSharingTheDragStaysOnItsOwnScreen) {
  QWidget window;
  auto* view = new SelectionView({}, &window);
  view->resize(1280, 800);
  sendMouse(view, QEvent::MouseButtonPress, {1000, 200});
  sendMouse(view, QEvent::MouseMove, {1600, 500});
  EXPECT_EQ(view->selection(), (Rect{1000, 200, 280, 300}));

  // An agent's banner: one line at the top centre, a long one cut to 60 % of the width.
  const QImage without = view->grab().toImage();
  view->setBanner(QString(400, QLatin1Char('W')));
  const QImage with = view->grab().toImage();
  const auto drawn = [&](int x, int y) { return with.pixel(x, y) != without.pixel(x, y); };
  EXPECT_TRUE(drawn(640, 20));
  EXPECT_FALSE(drawn(200, 20) || drawn(1080, 20) || drawn(640, 60));
}

void sendKey(QWidget* view, int key, Qt::KeyboardModifiers modifiers = {}) {
  QKeyEvent event(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(view, &event);
}

// Where the pointer cannot be moved (Wayland), the arrow keys move the point
// the view tracks: a press and a release happen there until the mouse moves.
TEST(SharedSelection, ArrowKeysNudgeByOneOrTenAndCPicksTheColourUnderThePointer) {
  QImage backdrop(1280, 800, QImage::Format_RGB32);
  for (int y = 0; y < 800; ++y) {
    for (int x = 0; x < 1280; ++x) backdrop.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256) * 40 + y / 256));
  }
  QWidget window;
  auto* view = new SelectionView(backdrop, &window);
  view->resize(1280, 800);
  view->setPointerWarps(false);
  std::vector<std::optional<Rect>> finished;
  std::optional<QColor> picked;
  view->selected = [&](std::optional<Rect> rect) { finished.push_back(rect); };
  view->picked = [&](QColor colour) { picked = colour; };

  sendMouse(view, QEvent::MouseMove, {300, 200});
  EXPECT_EQ(view->pointedColour(), QColor(backdrop.pixel(300, 200)));
  ASSERT_TRUE(view->loupeArea());
  EXPECT_FALSE(view->loupeArea()->contains(300, 200));
  for (int step = 0; step < 3; ++step) sendKey(view, Qt::Key_Right);
  sendKey(view, Qt::Key_Down, Qt::ShiftModifier);
  sendMouse(view, QEvent::MouseButtonPress, {300, 200});
  sendMouse(view, QEvent::MouseMove, {600, 500});
  sendKey(view, Qt::Key_Left);
  sendKey(view, Qt::Key_Up, Qt::ShiftModifier);
  EXPECT_EQ(view->pointedPixel(), QPoint(599, 490));
  sendMouse(view, QEvent::MouseButtonRelease, {600, 500});
  EXPECT_EQ(finished, (std::vector<std::optional<Rect>>{Rect{303, 210, 296, 280}}));

  sendKey(view, Qt::Key_C);
  EXPECT_EQ(picked, QColor(backdrop.pixel(599, 490)));
  EXPECT_EQ(finished.back(), std::nullopt);  // and the overlay ends
}

}  // namespace
}  // namespace lumacap
