#include <gtest/gtest.h>

#include <QApplication>
#include <QBackingStore>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>

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

// The paints a view got: each one's region.
struct PaintLog : QObject {
  std::vector<QRegion> paints;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) paints.push_back(static_cast<QPaintEvent*>(event)->region());
    return false;
  }
};

// A drag on one output repaints only what its selection covered and covers (a software-rendering
// desktop composites each repainted pixel again), and another output not at all until the
// selection reaches it; what each output shows is still what a whole repaint gives.
TEST(SharedSelection, ADragRepaintsOnlyWhereTheSelectionWasAndIsAndEachOutputShowsItWhole) {
  QImage picture(1280, 800, QImage::Format_RGB32);
  for (int y = 0; y < 800; ++y) {
    for (int x = 0; x < 1280; ++x) picture.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
  }
  SelectionView left(picture, nullptr), right(picture, nullptr);
  const Rect reach{0, 0, 2560, 800};
  left.shareSelection(Point{0, 0}, reach);
  right.shareSelection(Point{1280, 0}, reach);
  left.moved = [&](const Rect& global) { right.showSharedSelection(global); };
  PaintLog leftPaints, rightPaints;
  for (SelectionView* view : {&left, &right}) {
    view->resize(1280, 800);
    view->show();
  }
  QApplication::processEvents();
  left.installEventFilter(&leftPaints);
  right.installEventFilter(&rightPaints);
  const auto dragTo = [&](QPointF at) {
    sendMouse(&left, QEvent::MouseMove, at);
    for (int round = 0; round < 3; ++round) QApplication::processEvents();  // the repaint requested
  };

  sendMouse(&left, QEvent::MouseButtonPress, {900, 200});
  dragTo({1000, 300});  // the selection comes, and the hint goes: all of the left output
  leftPaints.paints.clear();
  for (const QPointF at : {QPointF(1100, 420), QPointF(1200, 500), QPointF(1050, 350)}) dragTo(at);
  ASSERT_FALSE(leftPaints.paints.empty());
  for (const QRegion& painted : leftPaints.paints) {
    const QRect bounds = painted.boundingRect();
    EXPECT_LT(bounds.width() * bounds.height(), 1280 * 800 / 4)
        << bounds.x() << "," << bounds.y() << " " << bounds.width() << "×" << bounds.height();
  }
  EXPECT_TRUE(rightPaints.paints.empty()) << "the right output repainted while the selection stayed left";

  dragTo({1600, 500});  // across the edge
  dragTo({1450, 420});
  dragTo({1150, 380});  // and back
  EXPECT_FALSE(rightPaints.paints.empty());
  for (SelectionView* view : {&left, &right}) {
    const QImage shown =
        static_cast<QImage*>(view->backingStore()->paintDevice())->convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, view->grab().toImage().convertToFormat(QImage::Format_RGB32))
        << (view == &left ? "left" : "right") << " output";
  }
}

}  // namespace
}  // namespace lumacap
