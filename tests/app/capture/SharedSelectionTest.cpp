#include <gtest/gtest.h>

#include <QApplication>
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
}

}  // namespace
}  // namespace lumacap
