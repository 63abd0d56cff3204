#include <gtest/gtest.h>

#include <xcb/composite.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cmath>

#include "app/capture/CaptureManager.h"
#include "app/capture/RegionSelector.h"
#include "app/views/PinWindow.h"
#include "app/views/WindowPresenter.h"
#include "platform/x11/X11ScreenSource.h"
#include "support/AwaitTask.h"
#include "support/IntegrationMain.h"

namespace lumacap {
namespace {

using test::awaitTask;
using test::processEventsUntil;
using test::sharedXServer;

const QColor xtermBackground(0x12, 0x34, 0x56);

// Device pixels per point (2 when the suite runs with QT_SCALE_FACTOR=2).
double scale() { return QGuiApplication::primaryScreen()->devicePixelRatio(); }

// A point of the first display, origin at its top-left, in device pixels.
std::string native(double points) { return std::to_string(std::lround(points * scale())); }

void xdotool(const std::vector<std::string>& arguments) { ASSERT_TRUE(sharedXServer().xdotool(arguments)); }

// Drags with the real pointer, from and to device-pixel positions.
void dragNative(const std::string& fromX, const std::string& fromY, const std::string& toX,
                const std::string& toY) {
  xdotool({"mousemove", fromX, fromY, "mousedown", "1", "mousemove", toX, toY, "mouseup", "1"});
}

void drag(Point from, Point to) { dragNative(native(from.x), native(from.y), native(to.x), native(to.y)); }

// Lets the events that xdotool caused arrive and be handled.
void settle(int milliseconds = 300) { test::processEventsFor(std::chrono::milliseconds(milliseconds)); }

using WindowGeometry = test::XServer::Geometry;

// A fresh read of the whole root window.
QImage screenPixels(X11ScreenSource& source) {
  const ShareableContent content = source.shareableContent().result();
  QImage image;
  for (const ShareableDisplay& display : content.displays) {
    const PixelRect whole = geometry::nativeRect(display.frame, display.scale);
    if (whole.x == 0 && whole.y == 0)
      image = source.displayImage(display, {0, 0, whole.width, whole.height}).result();
  }
  return image;
}

// An xterm with a known background, drawn and on the screen.
struct Xterm {
  unsigned long window = 0;
  WindowGeometry geometry;
  int pid = 0;

  Xterm(X11ScreenSource& source, const std::string& title, const std::string& placement = "50x12+100+100") {
    auto& process = sharedXServer().start(
        {"xterm", "-bg", "#123456", "-fg", "#123456", "-T", title, "-geometry", placement});
    pid = process.pid();
    const auto found = sharedXServer().waitForWindow("XTerm", pid);
    if (!found) throw std::runtime_error("xterm did not appear");
    window = *found;
    geometry = sharedXServer().geometry(window);
    const bool drawn = test::waitUntil([&] {
      const QImage pixels = screenPixels(source);
      return !pixels.isNull() && pixels.pixelColor(geometry.x + geometry.width / 2,
                                                   geometry.y + geometry.height / 2) == xtermBackground;
    });
    if (!drawn) throw std::runtime_error("xterm was not drawn");
  }
};

// A red window of ours at a rectangle given in device pixels, shown; on top
// of everything unless it may be covered.
std::unique_ptr<QWidget> redWindow(int x, int y, int width, int height, bool onTop = true) {
  auto window =
      std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint |
                                             (onTop ? Qt::WindowStaysOnTopHint : Qt::WindowFlags()));
  window->setAttribute(Qt::WA_ShowWithoutActivating);
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, Qt::red);
  window->setPalette(palette);
  window->setAutoFillBackground(true);
  window->setGeometry(int(x / scale()), int(y / scale()), int(width / scale()), int(height / scale()));
  window->show();
  return window;
}

// Whether every window of an overlay shows on the screen, once it does.
bool exposed(const std::vector<QPointer<SelectionWindow>>& windows) {
  return processEventsUntil([&] {
    return !windows.empty() && std::all_of(windows.begin(), windows.end(), [](const auto& window) {
      return window->windowHandle() && window->windowHandle()->isExposed();
    });
  });
}

class CaptureIntegration : public ::testing::Test {
 protected:
  X11ScreenSource source{ProcessSource::system()};
  CaptureManager manager{source};

  std::vector<OverlayScreen> overlayScreens() {
    std::vector<OverlayScreen> screens;
    for (QScreen* screen : QGuiApplication::screens()) {
      screens.push_back(
          OverlayScreen{screen, source.displayNumber(*screen).value_or(source.mainDisplayID()), {}});
    }
    return screens;
  }

  ShareableContent content() { return awaitTask(manager.content()); }

  std::optional<ShareableWindow> listed(unsigned long windowID) {
    for (const ShareableWindow& window : content().windows) {
      if (window.windowID == windowID) return window;
    }
    return std::nullopt;
  }

  bool overlayShown() {
    return processEventsUntil([&] { return manager.overlay(); }) && exposed(manager.overlay()->windows());
  }
};

// Shows a selector on every screen and records its completions.
struct Overlay {
  std::vector<std::optional<RegionSelection>> completions;
  RegionSelector selector{
      [this](std::optional<RegionSelection> selection) { completions.push_back(selection); }};

  explicit Overlay(const std::vector<OverlayScreen>& screens) {
    selector.show(screens);
    if (!exposed(selector.windows())) throw std::runtime_error("the overlay did not appear");
  }

  // The first completion, once there is one.
  std::optional<RegionSelection> result() {
    if (!processEventsUntil([&] { return !completions.empty(); })) throw std::runtime_error("no completion");
    return completions.front();
  }
};

TEST_F(CaptureIntegration, DragOnTheOverlayGivesTheRectangleWhicheverWayItGoes) {
  for (const auto& [from, to] : {std::pair<Point, Point>{{100, 80}, {300, 230}}, {{300, 230}, {100, 80}}}) {
    Overlay overlay(overlayScreens());
    drag(from, to);
    EXPECT_EQ(overlay.result(), (RegionSelection{source.mainDisplayID(), Rect{100, 80, 200, 150}}));
  }
}

// A pattern of ours with no two neighbouring pixels alike under an overlay
// that shows the screen as it was read: the loupe shows the pointed pixel as
// the screen has it, the arrow keys move the real pointer by one point (Shift:
// ten) so the selection is exact, and `C` copies the colour and cancels.
TEST_F(CaptureIntegration, TheLoupeShowsTheScreensPixelAndArrowKeysNudgeThePointer) {
  QImage pattern(120, 120, QImage::Format_RGB32);
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 120; ++x) pattern.setPixel(x, y, qRgb(x * 2, y * 2, (x * 7 + y * 3) % 256));
  }
  auto tile = redWindow(0, 0, 1, 1);
  QPalette palette;
  palette.setBrush(QPalette::Window, QPixmap::fromImage(pattern));
  tile->setPalette(palette);
  tile->setGeometry(200, 150, 120, 120);
  const QPoint probe(std::stoi(native(260)), std::stoi(native(210)));
  ASSERT_TRUE(processEventsUntil([&] { return screenPixels(source).pixel(probe) != qRgb(0, 0, 0); }));
  const QImage screen = screenPixels(source);
  std::vector<OverlayScreen> screens = overlayScreens();
  screens.front().backdrop = screen;
  Overlay overlay(screens);
  std::vector<QString> copied;
  overlay.selector.colourPicked = [&](const QString& hex) { copied.push_back(hex); };
  SelectionView* view = overlay.selector.windows().front()->view();

  xdotool({"mousemove", native(260), native(210)});
  ASSERT_TRUE(processEventsUntil([&] { return view->pointedPixel() == probe; }));
  EXPECT_EQ(view->pointedColour(), screen.pixelColor(probe));
  ASSERT_TRUE(processEventsUntil([&] {
    // The loupe's middle square, on the screen now, at 8 points per pixel.
    const QRect loupe = *view->loupeArea();
    const QPoint middle(std::stoi(native(loupe.x() + 60)), std::stoi(native(loupe.y() + 60)));
    const QPoint neighbour(std::stoi(native(loupe.x() + 68)), std::stoi(native(loupe.y() + 60)));
    const QImage shown = screenPixels(source);
    return shown.pixelColor(middle) == screen.pixelColor(probe) &&
           shown.pixelColor(neighbour) == screen.pixelColor(probe + QPoint(1, 0));
  }));

  xdotool({"key", "Right", "Right", "Right", "shift+Down", "mousedown", "1"});
  ASSERT_TRUE(processEventsUntil([&] { return view->anchor().has_value(); }));
  xdotool({"key", "shift+Right", "shift+Right", "Left", "shift+Down", "Up"});
  ASSERT_TRUE(processEventsUntil([&] { return view->pointer() && view->pointer()->y == 229; }));
  EXPECT_EQ(QCursor::pos(), QPoint(282, 229));
  xdotool({"mouseup", "1"});
  EXPECT_EQ(overlay.result(), (RegionSelection{source.mainDisplayID(), Rect{263, 220, 19, 9}}));

  Overlay again(screens);
  again.selector.colourPicked = [&](const QString& hex) { copied.push_back(hex); };
  xdotool({"mousemove", native(260), native(210), "key", "c"});
  EXPECT_EQ(again.result(), std::nullopt);
  EXPECT_EQ(copied, std::vector<QString>{screen.pixelColor(probe).name()});
}

// A pinned capture stays above a window raised after it, shows the capture's
// pixels, zooms with the wheel, moves with a drag and closes with Escape.
TEST_F(CaptureIntegration, APinStaysOnTopShowsTheCaptureAndEscapeClosesIt) {
  QImage image(std::lround(160 * scale()), std::lround(100 * scale()), QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x % 256, 200, (y * 2) % 256));
  }
  Xterm xterm(source, "Raised",
              "60x20+" + native(250) + "+" + native(150));  // raised over everything but the pin
  QPointer<PinWindow> pin = PinWindow::pin(image, QGuiApplication::primaryScreen());
  ASSERT_TRUE(processEventsUntil([&] { return pin->windowHandle() && pin->windowHandle()->isExposed(); }));
  pin->move(300, 200);
  const QPoint corner(std::stoi(native(300)), std::stoi(native(200)));
  xdotool({"windowactivate", "--sync", std::to_string(xterm.window), "windowraise",
           std::to_string(xterm.window)});
  ASSERT_TRUE(processEventsUntil([&] {
    const QImage shown = screenPixels(source);
    const QPoint far(image.width() - 5, image.height() - 5);  // inside the hairline
    return shown.pixel(corner + QPoint(30, 40)) == image.pixel(30, 40) &&
           shown.pixel(corner + far) == image.pixel(far);
  })) << "the pin is not on top with the capture's pixels";

  xdotool({"mousemove", native(340), native(240), "click", "4"});  // a notch of the wheel
  ASSERT_TRUE(processEventsUntil([&] { return pin->zoom() > 1; }));
  EXPECT_GT(pin->width(), 160);
  xdotool({"mousedown", "1", "mousemove", native(400), native(300), "mouseup", "1"});
  ASSERT_TRUE(processEventsUntil([&] { return pin->pos().x() > 330; }));
  xdotool({"key", "Escape"});
  ASSERT_TRUE(processEventsUntil([&] { return pin.isNull(); }));
}

TEST_F(CaptureIntegration, EscapeCancelsAndClosesEveryOverlayWindow) {
  Overlay overlay(overlayScreens());
  std::vector<QPointer<SelectionWindow>> windows = overlay.selector.windows();
  xdotool({"mousemove", native(200), native(200), "key", "Escape"});
  EXPECT_EQ(overlay.result(), std::nullopt);
  settle(200);
  for (const auto& window : windows) EXPECT_TRUE(!window || !window->isVisible());
  // No overlay window is left on the screen.
  const auto search = test::runProcess({"xdotool", "search", "--onlyvisible", "--name", "Select Region"});
  EXPECT_EQ(search.standardOutput, "");
}

TEST_F(CaptureIntegration, TooSmallDragOrClickResetsAndWaitsForAnother) {
  Overlay overlay(overlayScreens());
  drag({100, 100}, {102, 300});  // 2 × 200 points
  xdotool({"mousemove", native(40), native(40), "click", "1"});
  settle();
  EXPECT_TRUE(overlay.completions.empty());
  ASSERT_EQ(overlay.selector.windows().size(), size_t(QGuiApplication::screens().size()));
  EXPECT_TRUE(overlay.selector.windows().front()->isVisible());
  drag({100, 100}, {103, 103});  // 3 × 3 completes
  EXPECT_EQ(overlay.result(), (RegionSelection{source.mainDisplayID(), Rect{100, 100, 3, 3}}));
}

TEST_F(CaptureIntegration, DisplayCaptureShowsOtherWindowsButNeverOurs) {
  Xterm xterm(source, "Behind", "50x12+120+100");
  const WindowGeometry& area = xterm.geometry;
  // A window of ours right over the xterm, the way the thumbnail floats.
  const auto ours = redWindow(area.x, area.y, area.width, area.height);
  const int centreX = area.x + area.width / 2;
  const int centreY = area.y + area.height / 2;
  ASSERT_TRUE(processEventsUntil([&] {
    return screenPixels(source).pixelColor(centreX, centreY) == Qt::red;
  })) << "our window never showed";

  // The one screen is the main display (at its scale in the HiDPI run).
  const char* factor = std::getenv("QT_SCALE_FACTOR");
  EXPECT_EQ(scale(), factor ? std::atof(factor) : 1.0);
  const ShareableContent shareable = content();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  ASSERT_EQ(shareable.displays.size(), 1u);
  EXPECT_EQ(shareable.displays[0].displayID, source.mainDisplayID());
  EXPECT_EQ(shareable.displays[0].scale, scale());
  EXPECT_EQ(shareable.displays[0].frame, (Rect{0, 0, double(screen.width()), double(screen.height())}));
  EXPECT_EQ(awaitTask(manager.pointerDisplay()), source.mainDisplayID());

  WindowPresenter presenter(manager);
  HiddenForCapture hidden = presenter.hideForCapture();
  const CapturedImage captured =
      awaitTask(manager.display(shareable, awaitTask(manager.pointerDisplay()), std::nullopt, "Terminal"));
  hidden.restore({});
  EXPECT_EQ(captured.image.size(),
            QSize(std::lround(screen.width() * scale()), std::lround(screen.height() * scale())));
  EXPECT_EQ(captured.image.pixelColor(centreX, centreY), xtermBackground);
  EXPECT_EQ(captured.application, "Terminal");
  EXPECT_TRUE(ours->isVisible());  // shown again afterwards
}

// The same pixels whether the server writes them into shared memory or sends
// them over the socket.
TEST_F(CaptureIntegration, SharedMemoryAndSocketGiveTheSamePixels) {
  Xterm xterm(source, "Pixels", "50x12+120+100");
  X11ScreenSource overSocket(ProcessSource::system(), {}, X11ScreenSource::ImageTransport::socket);
  EXPECT_TRUE(source.usesSharedMemory());
  EXPECT_FALSE(overSocket.usesSharedMemory());
  const ShareableDisplay display = content().displays.front();
  const WindowGeometry& area = xterm.geometry;
  for (const PixelRect& part : {geometry::nativeRect(display.frame, display.scale),
                                PixelRect{area.x - 7, area.y - 5, area.width / 2 + 3, area.height / 2 + 1}}) {
    const QImage shared = source.displayImage(display, part).result();
    EXPECT_EQ(shared.size(), QSize(part.width, part.height));
    EXPECT_EQ(shared, overSocket.displayImage(display, part).result());
  }
}

// What the user sees mid-drag: the screen dimmed, the selection clear with a
// white outline and the size label under it, and none of our own windows;
// then the pixels under the selection.
TEST_F(CaptureIntegration, RegionCaptureDimsAllButTheSelectionMidDragAndGivesItsPixels) {
  Xterm xterm(source, "Overlay", "80x24+100+90");
  const WindowGeometry& area = xterm.geometry;
  const auto ours = redWindow(area.x + int(100 * scale()), area.y + int(50 * scale()), int(40 * scale()),
                              int(40 * scale()));
  ASSERT_TRUE(processEventsUntil([&] { return ours->windowHandle() && ours->windowHandle()->isExposed(); }));

  WindowPresenter presenter(manager);
  HiddenForCapture hidden = presenter.hideForCapture();
  auto task = manager.region(content(), "XTerm");
  ASSERT_TRUE(overlayShown());
  const Point from{std::ceil(area.x / scale()) + 30, std::ceil(area.y / scale()) + 30};
  const Point to{from.x + 150, from.y + 80};
  xdotool({"mousemove", native(from.x), native(from.y), "mousedown", "1", "mousemove", native(to.x),
           native(to.y)});
  settle(400);
  const QImage shown = screenPixels(source);
  const auto at = [&](double x, double y) {
    return shown.pixelColor(std::stoi(native(x)), std::stoi(native(y)));
  };
  EXPECT_EQ(at(from.x + 50, from.y + 60), xtermBackground);  // inside: clear
  const QColor dimmed = at(from.x - 10, from.y - 10);        // outside, over the xterm: dimmed
  EXPECT_NEAR(dimmed.red(), 0x12 * 0.7, 2);
  EXPECT_NEAR(dimmed.blue(), 0x56 * 0.7, 2);
  EXPECT_GT(at(from.x + 100, from.y).blue(), 200);  // the white outline
  // The size label "150 × 80" sits 10 points under the selection on its
  // black plate.
  const QColor plate = at(from.x - 5, to.y + 12);
  EXPECT_LT(plate.red() + plate.green() + plate.blue(), 60);
  // Our own window was hidden before the screen was frozen.
  const QColor underOurs = at(area.x / scale() + 120, area.y / scale() + 70);
  EXPECT_NE(underOurs, QColor(Qt::red));
  EXPECT_NEAR(underOurs.blue(), 0x56, 2);  // the xterm's blue, clear inside the selection

  xdotool({"mouseup", "1"});
  const std::optional<CapturedImage> captured = awaitTask(std::move(task));
  ASSERT_TRUE(captured);
  EXPECT_EQ(captured->image.size(), QSize(std::lround(150 * scale()), std::lround(80 * scale())));
  EXPECT_EQ(captured->image.pixelColor(0, 0), xtermBackground);
  EXPECT_EQ(captured->image.pixelColor(captured->image.width() - 1, captured->image.height() - 1),
            xtermBackground);
  EXPECT_EQ(captured->application, "XTerm");
  EXPECT_EQ(manager.overlay(), nullptr);
  // The same region again, from the screen without the overlay: the same pixels.
  const auto last = manager.lastRegion(*captured->displayID + 1);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->first, *captured->displayID);
  const CapturedImage again = awaitTask(manager.display(content(), last->first, last->second, "XTerm"));
  EXPECT_EQ(again.image.convertToFormat(captured->image.format()), captured->image);
  hidden.restore({});
  EXPECT_TRUE(ours->isVisible());
}

TEST_F(CaptureIntegration, WindowCaptureReturnsTheWindowWithItsTitleAndApplication) {
  Xterm older(source, "Older", "50x12+100+100");
  Xterm xterm(source, "Capture Me", "50x12+300+200");
  // The newest window is listed first.
  std::vector<uint32_t> order;
  for (const ShareableWindow& window : content().windows) {
    if (window.windowID == older.window || window.windowID == xterm.window) order.push_back(window.windowID);
  }
  EXPECT_EQ(order, (std::vector<uint32_t>{uint32_t(xterm.window), uint32_t(older.window)}));
  const auto found = listed(xterm.window);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->title, "Capture Me");
  ASSERT_TRUE(found->owningApplication);
  EXPECT_EQ(found->owningApplication->pid, xterm.pid);
  EXPECT_EQ(found->layer, 0);
  EXPECT_EQ(found->frame.width * found->scale, xterm.geometry.width);
  // The trayer panel is a dock, not an ordinary window.
  for (const ShareableWindow& window : content().windows) {
    if (window.owningApplication && window.owningApplication->applicationName == "trayer") {
      EXPECT_NE(window.layer, 0);
    }
  }

  const CapturedImage captured = awaitTask(manager.window(*found));
  EXPECT_EQ(captured.windowTitle, "Capture Me");
  EXPECT_EQ(captured.application, "XTerm");
  EXPECT_EQ(captured.image.size(), QSize(xterm.geometry.width, xterm.geometry.height));
  EXPECT_EQ(captured.image.pixelColor(captured.image.width() / 2, captured.image.height() / 2),
            xtermBackground);
}

// Without a compositor the covered window is brought to the front and read
// once it has redrawn: none of the window lying on it shows.
TEST_F(CaptureIntegration, WindowCaptureWithoutACompositorRaisesACoveredWindow) {
  Xterm covered(source, "Covered", "50x12+300+200");
  const WindowGeometry& area = covered.geometry;
  auto& cover =
      sharedXServer().start({"xterm", "-bg", "#654321", "-T", "Cover", "-geometry",
                             "20x20+" + std::to_string(area.x + 40) + "+" + std::to_string(area.y - 30)});
  ASSERT_TRUE(sharedXServer().waitForWindow("XTerm", cover.pid()));
  ASSERT_TRUE(processEventsUntil(
      [&] { return screenPixels(source).pixelColor(area.x + 60, area.y + 40) == QColor(0x65, 0x43, 0x21); }));

  const auto found = listed(covered.window);
  ASSERT_TRUE(found);
  const QImage image = awaitTask(manager.window(*found)).image;
  ASSERT_EQ(image.size(), QSize(area.width, area.height));
  for (const QPoint point : {QPoint(60, 40), QPoint(5, 5), QPoint(area.width - 5, area.height - 5)}) {
    EXPECT_EQ(image.pixelColor(point), xtermBackground) << point.x() << "," << point.y();
  }
  cover.stop();
}

// Under a compositor every window draws into a pixmap of its own; the window
// capture reads that pixmap, so a window lying on top does not show.
TEST_F(CaptureIntegration, WindowCaptureUnderACompositorIgnoresWindowsOnTop) {
  Xterm xterm(source, "Covered", "50x12+300+200");
  xcb_connection_t* compositor = xcb_connect(sharedXServer().display().c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(compositor));
  xcb_composite_redirect_window(compositor, uint32_t(xterm.window), XCB_COMPOSITE_REDIRECT_AUTOMATIC);
  xcb_flush(compositor);
  settle(300);
  const WindowGeometry& area = xterm.geometry;
  const auto cover = redWindow(area.x, area.y, area.width / 2, area.height, false);
  ASSERT_TRUE(
      processEventsUntil([&] { return screenPixels(source).pixelColor(area.x + 5, area.y + 5) == Qt::red; }));

  const auto found = listed(xterm.window);
  ASSERT_TRUE(found);
  const CapturedImage captured = awaitTask(manager.window(*found));
  EXPECT_EQ(captured.image.pixelColor(5, 5), xtermBackground);
  EXPECT_EQ(captured.image.pixelColor(captured.image.width() - 5, captured.image.height() - 5),
            xtermBackground);
  xcb_disconnect(compositor);
}

// The Xvfb screen split into two 640-pixel monitors, side by side.
class TwoMonitorCapture : public CaptureIntegration {
 protected:
  void SetUp() override {
    ASSERT_EQ(
        test::runProcess({"xrandr", "--setmonitor", "left", "640/169x800/212+0+0", "screen"}).exitStatus, 0);
    ASSERT_EQ(
        test::runProcess({"xrandr", "--setmonitor", "right", "640/169x800/212+640+0", "none"}).exitStatus, 0);
    ASSERT_TRUE(processEventsUntil([] { return QGuiApplication::screens().size() == 2; }))
        << "Qt did not see the second monitor";
  }
  // The next test finds the one screen Xvfb started with.
  void TearDown() override {
    test::runProcess({"xrandr", "--delmonitor", "left"});
    test::runProcess({"xrandr", "--delmonitor", "right"});
    EXPECT_TRUE(processEventsUntil([] { return QGuiApplication::screens().size() == 1; }));
  }

  QScreen* screenNamed(const QString& name) {
    for (QScreen* screen : QGuiApplication::screens()) {
      if (screen->name() == name) return screen;
    }
    return nullptr;
  }
};

TEST_F(TwoMonitorCapture, EachMonitorIsADisplayWithItsFrameAndDragsAreLocalToIt) {
  const ShareableContent shareable = content();
  ASSERT_EQ(shareable.displays.size(), 2u);
  for (const ShareableDisplay& display : shareable.displays) {
    QScreen* screen = screenNamed(QString::fromStdString(display.name));
    ASSERT_NE(screen, nullptr) << display.name;
    const QRect frame = screen->geometry();
    EXPECT_EQ(display.frame,
              (Rect{double(frame.x()), double(frame.y()), double(frame.width()), double(frame.height())}));
    EXPECT_EQ(display.displayID, source.displayNumber(*screen).value());
  }
  QScreen* left = screenNamed("left");
  QScreen* right = screenNamed("right");
  ASSERT_TRUE(left && right);
  const uint32_t leftID = source.displayNumber(*left).value();
  const uint32_t rightID = source.displayNumber(*right).value();
  EXPECT_NE(rightID, leftID);
  const double s = right->devicePixelRatio();
  {
    Overlay overlay(overlayScreens());
    ASSERT_EQ(overlay.selector.windows().size(), 2u);
    // 60 pixels into the right monitor, 100 down; 200 × 160 pixels.
    dragNative("700", "100", "900", "260");
    EXPECT_EQ(overlay.result(), (RegionSelection{rightID, Rect{60 / s, 100 / s, 200 / s, 160 / s}}));
  }
  {
    // A drag leaving the first monitor is clipped to it.
    Overlay overlay(overlayScreens());
    dragNative("560", "100", "900", "300");
    const double l = left->devicePixelRatio();
    EXPECT_EQ(overlay.result(), (RegionSelection{leftID, Rect{560 / l, 100 / l, 80 / l, 200 / l}}));
  }
  xdotool({"mousemove", "1000", "400"});
  settle(100);
  EXPECT_EQ(awaitTask(manager.pointerDisplay()), rightID);
  xdotool({"mousemove", "10", "400"});
  settle(100);
  EXPECT_EQ(awaitTask(manager.pointerDisplay()), leftID);
}

// An X server whose pixels Lumacap cannot read says so by kind.
TEST(X11Capture, AServerOfAnotherPixelFormatIsAFailureOfItsOwnKind) {
  test::XServer sixteenBits("320x240x16");
  X11ScreenSource source(ProcessSource::system(), sixteenBits.display());
  CaptureManager manager(source);
  ShareableContent content = awaitTask(manager.content());
  ASSERT_FALSE(content.displays.empty());
  const uint32_t display = content.displays.front().displayID;
  try {
    awaitTask(manager.display(std::move(content), display, std::nullopt, {}));
    ADD_FAILURE() << "captured";
  } catch (const CaptureError& failure) {
    EXPECT_EQ(failure.kind(), CaptureError::Kind::x11PixelFormat);
  }
}

// What the capture manager makes of a refusal is CaptureManagerTest's.
TEST(ScreenRecordingPermission, RefusedWithoutAnXDisplay) {
  X11ScreenSource nowhere(ProcessSource::system(), "/nonexistent:0");
  EXPECT_FALSE(nowhere.canRecordScreen());
  EXPECT_FALSE(nowhere.requestScreenRecording().result());
}

}  // namespace
}  // namespace lumacap
