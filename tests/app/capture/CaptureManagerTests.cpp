#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>

#include "app/capture/CaptureManager.h"
#include "app/capture/RegionSelector.h"
#include "platform/fake/FakeScreenSource.h"
#include "support/AwaitTask.h"

namespace lumacap {
namespace {

using test::awaitTask;

// A desktop whose every pixel tells where it is: red = x, green = y (mod 256).
QImage patternedDesktop(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, 90));
  }
  return image;
}

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

template <typename T>
CaptureError::Kind captureErrorOf(QCoro::Task<T>&& task) {
  try {
    awaitTask(std::move(task));
  } catch (const CaptureError& error) {
    return error.kind();
  }
  ADD_FAILURE() << "no capture error";
  return CaptureError::Kind::permission;
}

class CaptureManagerTest : public ::testing::Test {
 protected:
  CaptureManagerTest() {
    source.content.displays = {ShareableDisplay{7, "retina", Rect{0, 0, 1512, 982}, 2}};
    source.desktops[7] = patternedDesktop(3024, 1964);
  }

  ShareableContent content() { return awaitTask(manager.content()); }

  FakeScreenSource source;
  CaptureManager manager{source};
};

TEST_F(CaptureManagerTest, DisplayCapturesAreClippedToTheDisplayAndAtLeastThreePoints) {
  const CapturedImage whole = awaitTask(manager.display(content(), 7, std::nullopt, "Terminal"));
  EXPECT_EQ(whole.image.size(), QSize(3024, 1964)) << "full pixel density";
  EXPECT_EQ(whole.application, "Terminal");
  EXPECT_FALSE(whole.windowTitle);
  EXPECT_EQ(whole.nameFallback, "display") << "no window fills most of it";
  // Named after a window only where it fills most of the capture (front-most first).
  source.content.windows = {
      ShareableWindow{1, "notes", Rect{0, 0, 300, 200}, OwningApplication{9, "Editor"}},
      ShareableWindow{2, "build log", Rect{0, 0, 1512, 400}, OwningApplication{8, "Term"}}};
  EXPECT_EQ(awaitTask(manager.display(content(), 7, std::nullopt, "Terminal")).nameFallback, "display");
  source.content.windows[1].frame.height = 600;
  const CapturedImage filled = awaitTask(manager.display(content(), 7, std::nullopt, "Terminal"));
  EXPECT_EQ(std::tie(filled.application, filled.windowTitle, filled.nameFallback),
            std::tie("Terminal", "build log", "Term"));
  const CapturedImage small = awaitTask(manager.display(content(), 7, Rect{10, 20, 3, 3}, {}));
  EXPECT_EQ(small.windowTitle, "notes");
  EXPECT_EQ(small.image.size(), QSize(6, 6));
  EXPECT_EQ(small.image.pixel(0, 0), qRgb(20, 40, 90));  // (10, 20) points at scale 2
  // Past the edge: clipped first, then measured.
  EXPECT_EQ(awaitTask(manager.display(content(), 7, Rect{1500, 970, 100, 100}, {})).image.size(),
            QSize(24, 24));
  EXPECT_EQ(source.displayReads.back(), (PixelRect{3000, 1940, 24, 24}));
  const size_t reads = source.displayReads.size();
  EXPECT_EQ(captureErrorOf(manager.display(content(), 7, Rect{10, 10, 100, 2.9}, {})),
            CaptureError::Kind::invalidRegion);
  EXPECT_EQ(captureErrorOf(manager.display(content(), 7, Rect{1510, 10, 100, 100}, {})),
            CaptureError::Kind::invalidRegion);
  EXPECT_EQ(source.displayReads.size(), reads) << "a refused region reads nothing";
  EXPECT_EQ(captureErrorOf(manager.display(content(), 8, std::nullopt, {})), CaptureError::Kind::noDisplay);
}

TEST_F(CaptureManagerTest, WindowCapturesKeepAtLeastOnePixelAndTheirOwnerAndTitle) {
  QImage pixels(3, 81, QImage::Format_RGB32);
  pixels.fill(Qt::green);
  source.windowImages[31] = pixels;
  const auto thin =
      awaitTask(manager.window({31, "Ruler", Rect{5, 5, 0.3, 40.7}, OwningApplication{1234, "XTerm"}, 0, 2}));
  EXPECT_EQ(thin.image.size(), QSize(1, 81));
  EXPECT_EQ(thin.application, "XTerm");
  EXPECT_EQ(thin.windowTitle, "Ruler");
  source.windowImages[32] = pixels.scaled(100, 50);
  const auto bare = awaitTask(manager.window({32, std::nullopt, Rect{0, 0, 100, 50}, std::nullopt, 0, 1}));
  EXPECT_EQ(bare.image, source.windowImages[32]);
  EXPECT_FALSE(bare.application || bare.windowTitle);
}

TEST_F(CaptureManagerTest, PermissionIsAskedForOnceAndRefusalFails) {
  source.mayRecord = false;
  EXPECT_EQ(captureErrorOf(manager.content()), CaptureError::Kind::permission);
  EXPECT_EQ(source.requests, 1);
  EXPECT_EQ(source.contentQueries, 0);

  source.grantsRequest = true;
  EXPECT_EQ(content(), source.content);
}

TEST_F(CaptureManagerTest, PointerDisplayFallsBackToTheMainDisplay) {
  source.mainDisplay = 42;
  EXPECT_EQ(awaitTask(manager.pointerDisplay()), 42u);  // the screen has no display number
  source.anyScreenNumber = 7;
  QCursor::setPos(10, 10);
  EXPECT_EQ(awaitTask(manager.pointerDisplay()), 7u);
  QCursor::setPos(-5000, -5000);  // outside every screen: the main screen's
  EXPECT_EQ(awaitTask(manager.pointerDisplay()), 7u);
}

// Region captures on the offscreen screen (800 × 600 points at scale 1).
class RegionCaptureTest : public CaptureManagerTest {
 protected:
  RegionCaptureTest() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    source.anyScreenNumber = 5;
    source.content.displays.push_back(
        ShareableDisplay{5, "offscreen", Rect{0, 0, double(screen.width()), double(screen.height())}, 1});
    source.desktops[5] = patternedDesktop(screen.width(), screen.height());
  }

  SelectionView* openOverlay() {
    EXPECT_TRUE(
        test::processEventsUntil([&] { return manager.overlay() && !manager.overlay()->windows().empty(); }));
    return manager.overlay()->windows().front()->view();
  }
};

TEST_F(RegionCaptureTest, SelectionIsCutFromTheScreenAsItWasWhenTheOverlayOpened) {
  auto task = manager.region(content(), "Terminal");
  SelectionView* view = openOverlay();
  const int readsBeforeSelection = int(source.displayReads.size());
  source.desktops[5].fill(Qt::red);  // the screen changes under the overlay
  drag(view, {300, 250}, {100, 50});
  const std::optional<CapturedImage> captured = awaitTask(std::move(task));
  ASSERT_TRUE(captured);
  EXPECT_EQ(captured->image.size(), QSize(200, 200));
  EXPECT_EQ(captured->image.pixel(0, 0), qRgb(100, 50, 90));
  EXPECT_EQ(captured->image.pixel(199, 199), qRgb(299 % 256, 249, 90));
  EXPECT_EQ(captured->application, "Terminal");
  EXPECT_EQ(captured->nameFallback, std::nullopt)
      << "the desktop is not named after the application in front";
  EXPECT_EQ(captured->displayID, 5u) << "the card goes where the region was dragged";
  EXPECT_EQ(int(source.displayReads.size()), readsBeforeSelection);
  EXPECT_EQ(manager.overlay(), nullptr);
}

TEST_F(RegionCaptureTest, DisplayUnpluggedWhileTheOverlayWasUpFails) {
  source.anyScreenNumber = 6;  // the screen's display is no longer in the content
  auto task = manager.region(content(), {});
  drag(openOverlay(), {10, 10}, {100, 100});
  EXPECT_EQ(captureErrorOf(std::move(task)), CaptureError::Kind::noDisplay);
}

TEST_F(RegionCaptureTest, ASecondRegionCaptureCancelsTheFirst) {
  auto first = manager.region(content(), {});
  openOverlay();
  RegionSelector* firstOverlay = manager.overlay();
  auto second = manager.region(content(), {});
  EXPECT_FALSE(awaitTask(std::move(first)));
  EXPECT_TRUE(
      test::processEventsUntil([&] { return manager.overlay() && manager.overlay() != firstOverlay; }));
  drag(openOverlay(), {10, 10}, {20, 20});
  const auto captured = awaitTask(std::move(second));
  ASSERT_TRUE(captured);
  EXPECT_EQ(captured->image.size(), QSize(10, 10));
}

// On a desktop that paints the pictures itself (KWin), the overlay opens at
// once and shows nothing until they are in.
class EarlyOverlayTest : public RegionCaptureTest {
 protected:
  EarlyOverlayTest() {
    source.overlayFirst = true;
    source.holdImages = true;
  }

  // The overlay, once it has asked for the picture it is waiting for.
  SelectionView* openEarly() {
    SelectionView* view = openOverlay();
    EXPECT_TRUE(test::processEventsUntil([&] { return source.heldImages() == 1; }));
    return view;
  }

  // What the view draws, over a canvas of `under`.
  static QRgb drawnAt(QWidget* view, QPoint at, QColor under = Qt::transparent) {
    QImage canvas(view->size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(under);
    view->render(&canvas);
    return canvas.pixel(at);
  }
};

TEST_F(EarlyOverlayTest, DragsBeforeThePicturesAreCutFromThemOnceTheyArrive) {
  // A whole drag while KWin still paints: the capture waits for the picture.
  auto task = manager.region(content(), {});
  SelectionView* view = openEarly();
  EXPECT_TRUE(view->awaitingPicture());
  EXPECT_TRUE(view->window()->testAttribute(Qt::WA_TranslucentBackground));
  mouse(view, QEvent::MouseButtonPress, {300, 250});
  mouse(view, QEvent::MouseMove, {310, 260});
  EXPECT_EQ(qAlpha(drawnAt(view, {305, 255})), 0) << "nothing drawn, not even the selection";
  EXPECT_EQ(qAlpha(drawnAt(view, {5, 5})), 0);
  mouse(view, QEvent::MouseButtonRelease, {310, 260});
  EXPECT_TRUE(test::processEventsUntil([&] { return manager.overlay() == nullptr; })) << "closed at once";
  source.deliverHeldImages();
  std::optional<CapturedImage> captured = awaitTask(std::move(task));
  ASSERT_TRUE(captured);
  EXPECT_EQ(captured->image.size(), QSize(10, 10));
  EXPECT_EQ(captured->image.pixel(0, 0), qRgb(300 % 256, 250, 90));

  // A drag begun before the picture and ended after it: the dimmed picture
  // appears under the selection already dragged.
  task = manager.region(content(), {});
  view = openEarly();
  mouse(view, QEvent::MouseButtonPress, {100, 50});
  mouse(view, QEvent::MouseMove, {200, 100});
  source.deliverHeldImages();
  ASSERT_TRUE(test::processEventsUntil([&] { return !view->awaitingPicture(); }));
  EXPECT_EQ(view->selection(), (Rect{100, 50, 100, 50}));
  EXPECT_EQ(drawnAt(view, {150, 75}, Qt::blue), qRgb(150, 75, 90)) << "the selection shows the picture";
  EXPECT_EQ(qAlpha(drawnAt(view, {5, 5}, Qt::blue)), 255) << "the rest is dimmed picture";
  mouse(view, QEvent::MouseMove, {300, 250});
  mouse(view, QEvent::MouseButtonRelease, {300, 250});
  captured = awaitTask(std::move(task));
  ASSERT_TRUE(captured);
  EXPECT_EQ(captured->image.size(), QSize(200, 200));
  EXPECT_EQ(captured->image.pixel(0, 0), qRgb(100, 50, 90));
}

TEST_F(EarlyOverlayTest, EscapeOrAFailedPictureBeforeThePicturesClosesTheOverlay) {
  auto task = manager.region(content(), {});
  openEarly();
  QPointer<SelectionWindow> window = manager.overlay()->windows().front();
  press(window->view(), Qt::Key_Escape);
  EXPECT_TRUE(test::processEventsUntil([&] { return manager.overlay() == nullptr; }));
  EXPECT_FALSE(window && window->isVisible());
  source.deliverHeldImages();
  EXPECT_FALSE(awaitTask(std::move(task)));

  auto failing = manager.region(content(), {});
  openEarly();
  source.imageError = std::make_exception_ptr(CaptureError(CaptureError::Kind::compositorRefused));
  source.deliverHeldImages();
  EXPECT_EQ(captureErrorOf(std::move(failing)), CaptureError::Kind::compositorRefused);
  EXPECT_EQ(manager.overlay(), nullptr);
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
