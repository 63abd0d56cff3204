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

// What a person does on a real screen (dragging either way, leaving the
// screen, the dimmed drawing) is checked by the integration tests; these
// cover the selector's own states.

// A selector on the offscreen screen, recording each completion.
struct Overlay {
  std::vector<std::optional<RegionSelection>> completions;
  RegionSelector selector{
      [this](std::optional<RegionSelection> selection) { completions.push_back(selection); }};

  Overlay() { selector.show({OverlayScreen{QGuiApplication::primaryScreen(), 7, {}}}); }
  SelectionView* view() const { return selector.windows().at(0)->view(); }
};

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
  press(overlay.view(), Qt::Key_A);  // other keys do nothing
  press(overlay.view(), Qt::Key_Return);
  EXPECT_TRUE(overlay.completions.empty());
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

// Going away while shown, or shown on no screen at all, completes with nothing.
TEST(RegionSelector, GoingAwayOrNoScreensCancel) {
  for (const bool withScreen : {true, false}) {
    std::vector<std::optional<RegionSelection>> completions;
    {
      RegionSelector selector(
          [&](std::optional<RegionSelection> selection) { completions.push_back(selection); });
      selector.show(withScreen ? std::vector{OverlayScreen{QGuiApplication::primaryScreen(), 7, {}}}
                               : std::vector<OverlayScreen>{});
      EXPECT_EQ(completions.size(), withScreen ? 0u : 1u);
    }
    EXPECT_EQ(completions, std::vector<std::optional<RegionSelection>>{std::nullopt}) << withScreen;
  }
}

}  // namespace
}  // namespace lumacap
