// The window list of KWin (scripts) and sway (IPC) on the real desktops:
// bringing a window that lies behind another to the front, and Capture
// Window… listing the windows and capturing the chosen one alone.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QImage>
#include <QtConcurrent/QtConcurrentRun>

#include "platform/ProcessSource.h"
#include "platform/wayland/CompositorWorkspace.h"
#include "platform/wayland/KWinWindowScripts.h"
#include "platform/wayland/SwayWindowList.h"
#include "support/AwaitTask.h"
#include "support/WaylandTest.h"
#include "support/WaylandWindowPattern.h"

namespace lumacap::test {
namespace {

const std::string behindTitle = "Lumacap test window behind";
const std::string frontTitle = "Lumacap test window in front";

class WaylandWindowsTest : public WaylandTest {
 protected:
  void SetUp() override {
    WaylandTest::SetUp();
    if (IsSkipped()) return;
    behind = openWindow(behindTitle, 1);
    front = openWindow(frontTitle, 2);
    ASSERT_TRUE(waitUntil([&] { return focusedTitle() == frontTitle; })) << "the newer window has no focus";
  }
  void TearDown() override {
    for (auto* process : {&application, &front, &behind})
      if (*process) (*process)->stop();
  }

  std::unique_ptr<BackgroundProcess> openWindow(const std::string& title, int seed) {
    auto window = desktop().spawn({LUMACAP_WAYLAND_WINDOW, title, std::to_string(seed), "560", "400"});
    EXPECT_TRUE(waitUntil([&] { return listed(title).has_value(); }, 20s)) << desktop().output(*window);
    return window;
  }
  std::optional<DesktopWindow> listed(const std::string& title) {
    for (const DesktopWindow& window : desktop().windows())
      if (window.title == title) return window;
    return std::nullopt;
  }
  // Lumacap's window list, reaching the desktop as the application does.
  std::shared_ptr<CompositorWindowList> compositorList() {
    const auto environment = desktop().environment();
    if (GetParam() == Compositor::sway)
      return std::make_shared<SwayWindowList>(environment.at("SWAYSOCK"), environment.at("XDG_RUNTIME_DIR"),
                                              IpcBounds{.user = desktop().user()});
    return std::make_shared<KWinWindowScripts>(QDBusConnection::connectToBus(
        QString::fromStdString(environment.at("DBUS_SESSION_BUS_ADDRESS")), "lumacap-windows-test"));
  }

  void startLumacap() {
    application = desktop().spawn({lumacapBinary()});
    ASSERT_TRUE(waitUntil(
        [&] { return desktop().output(*application).find("lumacap: ") != std::string::npos; }, 30s));
    // These desktops show no tray: Lumacap says so in a window once, which is closed first.
    ASSERT_TRUE(waitUntil([&] { return focusedTitle() == "Lumacap"; }, 30s)) << windowsListed();
    desktop().key("return");
    ASSERT_TRUE(waitUntil([&] { return !listed("Lumacap"); }));
  }
  void openChooser() {
    const auto chose = desktop().run({lumacapBinary(), "--action=capture-window"}, 20s);
    ASSERT_EQ(chose.exitStatus, 0) << chose.standardError;
    ASSERT_TRUE(waitUntil([&] { return focusedTitle() == "Capture a Window"; }, 20s))
        << "windows: " << windowsListed() << "\n"
        << desktop().output(*application);
  }

  std::unique_ptr<BackgroundProcess> behind, front, application;
};

TEST_P(WaylandWindowsTest, theWorkspaceKnowsAWindowBehindAndBringsItToTheFront) {
  const AsSessionUser asUser(desktop());  // the desktop reads the KWin script this process writes
  const std::optional<DesktopWindow> target = listed(behindTitle);
  ASSERT_TRUE(target);
  CompositorWorkspace workspace(compositorList(), ProcessSource::system());

  // Looked up once the listing the application awaits is in.
  QFuture<void> listed = workspace.refreshed();
  ASSERT_TRUE(test::processEventsUntil([&] { return listed.isFinished(); }));
  const std::optional<DesktopApplication> application = workspace.application(target->pid);
  const std::optional<std::string> title = workspace.windowTitle(target->pid);
  const std::optional<DesktopApplication> frontmost = workspace.frontmostApplication();
  ASSERT_TRUE(application);
  EXPECT_EQ(application->bundleIdentifier, target->app);
  EXPECT_EQ(title, behindTitle);
  ASSERT_TRUE(frontmost);
  EXPECT_NE(frontmost->pid, target->pid);

  QFuture<bool> activated = workspace.activate(*application);
  activated.waitForFinished();
  EXPECT_TRUE(activated.result());
  EXPECT_TRUE(waitUntil([&] { return focusedTitle() == behindTitle; })) << "focused: " << focusedTitle();
}

// The bounding box of the pixels in which two images of one size differ (empty when none do).
QRect differingArea(const QImage& a, const QImage& b) {
  QRect area;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.pixel(x, y) != b.pixel(x, y)) area |= QRect(x, y, 1, 1);
    }
  }
  return area;
}

TEST_P(WaylandWindowsTest, captureWindowListsTheWindowsFrontMostFirstAndCapturesTheChosenOneAlone) {
  LUMACAP_SKIP_WITHOUT_SCREENSHOTS();
  ASSERT_NO_FATAL_FAILURE(startLumacap());
  // Headless sway draws the pointer into what it copies: it waits at the right edge of the first
  // output, away from the window behind (sway tiles it at the left).
  desktop().move(1275, 5);
  ASSERT_NO_FATAL_FAILURE(openChooser());

  // The window in front is the first row; the one behind it the second.
  desktop().key("down");
  desktop().key("return");
  const QImage captured = clipboardImage(20s);
  ASSERT_FALSE(captured.isNull()) << windowsListed() << desktop().output(*application);
  const QRect frame = listed(behindTitle).value_or(DesktopWindow{}).geometry;
  // The window's content alone: its picture from its top-left corner, at most its frame's size.
  EXPECT_LE(captured.width(), frame.width());
  EXPECT_LE(captured.height(), frame.height());
  EXPECT_GE(captured.width(), frame.width() - 8);
  // (Headless sway draws the pointer into what it copies, and moves it when the focus changes
  // outputs: there the picture may differ under one pointer's extent.)
  const QRect differing = differingArea(captured, windowPattern(captured.size(), 1));
  const QSize pointerExtent = GetParam() == Compositor::sway ? QSize(32, 32) : QSize(0, 0);
  EXPECT_TRUE(differing.width() <= pointerExtent.width() && differing.height() <= pointerExtent.height())
      << "the capture is not the chosen window's picture (it differs in " << differing.width() << "×"
      << differing.height() << " at " << differing.x() << "," << differing.y() << "); "
      << desktop().output(*application);
}

// A real terminal: the compositor lists it with its title, and Capture Window… captures it alone,
// exactly as it shows on the screen.
TEST_P(WaylandWindowsTest, aRealTerminalIsListedWithItsTitleAndCapturedAlone) {
  const AsSessionUser asUser(desktop());  // the desktop reads the KWin script this process writes
  const std::string title = "Lumacap test terminal";
  // Text, and no text cursor, whose look would change with the focus. Konsole on KDE; foot on sway
  // (foot 1.13 ends at once on KWin's virtual outputs, which have no physical size).
  const std::string shell = "printf '\\033[?25lA real terminal\\n'; exec sleep 600";
  auto terminal = GetParam() == Compositor::kwin
                      ? desktop().spawn({"konsole", "--separate", "--hide-menubar", "--hide-tabbar", "-p",
                                         "LocalTabTitleFormat=" + title, "-e", "sh", "-c", shell})
                      : desktop().spawn({"foot", "--title", title, "sh", "-c", shell});
  const std::string terminalClass = GetParam() == Compositor::kwin ? "org.kde.konsole" : "foot";
  std::optional<DesktopWindow> terminalWindow;
  ASSERT_TRUE(waitUntil(
      [&] {
        for (const DesktopWindow& window : desktop().windows())
          if (window.focused && window.app == terminalClass) terminalWindow = window;
        return terminalWindow.has_value();
      },
      20s))
      << windowsListed() << desktop().output(*terminal);
  // As Lumacap lists it, front-most first.
  const auto frontMost = [&] {
    // On a worker, as Lumacap asks, while this thread serves the bus.
    QFuture<std::vector<CompositorWindow>> listing =
        QtConcurrent::run([list = compositorList()] { return list->windows(); });
    EXPECT_TRUE(test::processEventsUntil([&] { return listing.isFinished(); }));
    const std::vector<CompositorWindow> windows = listing.result();
    return windows.empty() ? CompositorWindow{} : windows.front();
  };
  const CompositorWindow listedFirst = frontMost();
  EXPECT_EQ(listedFirst.title, terminalWindow->title);
  EXPECT_NE(listedFirst.title.find(title), std::string::npos) << listedFirst.title;
  EXPECT_EQ(listedFirst.appClass, terminalClass);
  EXPECT_EQ(listedFirst.pid, terminalWindow->pid);
  LUMACAP_SKIP_WITHOUT_SCREENSHOTS();  // (the listing ran)

  ASSERT_NO_FATAL_FAILURE(startLumacap());
  ASSERT_TRUE(waitUntil([&] { return focusedTitle() == terminalWindow->title; }, 10s)) << windowsListed();
  desktop().move(1275, 795);
  const Rect frame = frontMost().frame;
  const QImage shown = desktop()
                           .reference(QRect(int(frame.x), int(frame.y), int(frame.width), int(frame.height)))
                           .convertToFormat(QImage::Format_RGB32);
  ASSERT_NO_FATAL_FAILURE(openChooser());
  desktop().key("return");  // the first row: the window in front
  const QImage captured = clipboardImage(20s).convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(captured.size(), shown.size()) << desktop().output(*application);
  const QRect differing = differingArea(captured, shown);
  const QSize pointerExtent = GetParam() == Compositor::sway ? QSize(32, 32) : QSize(0, 0);
  EXPECT_TRUE(differing.width() <= pointerExtent.width() && differing.height() <= pointerExtent.height())
      << "the capture is not the terminal as it shows (it differs in " << differing.width() << "×"
      << differing.height() << " at " << differing.x() << "," << differing.y() << ")";
  terminal->stop();
}

// Lumacap's windows open whole on one output, their title bars on the screen (KWin centres a window
// taller than the output's 800 pixels above its top edge); Settings and the chooser float on sway.
// GNOME lists its windows to the test's shell extension only (its chooser is the portal's).
class WaylandDialogsTest : public WaylandWindowsTest {};

TEST_P(WaylandDialogsTest, openWhollyOnOneOutputAndFloat) {
  startLumacap();
  const auto expectPlaced = [&](const std::string& title, bool floats = true) {
    std::optional<DesktopWindow> shown;
    EXPECT_TRUE(waitUntil([&] { return (shown = listed(title)) && !shown->geometry.isEmpty(); }, 20s))
        << title << " did not open; " << windowsListed();
    if (!shown) return;
    const QRect frame = shown->geometry;
    EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(frame) || QRect(1280, 0, 1280, 800).contains(frame))
        << title << " at " << frame.x() << "," << frame.y() << " " << frame.width() << "×" << frame.height();
    EXPECT_TRUE(shown->floating || !floats) << title << " is tiled";
  };
  ASSERT_EQ(desktop().run({lumacapBinary(), "--action=settings"}, 20s).exitStatus, 0);
  expectPlaced("Lumacap Settings");
  ASSERT_EQ(desktop().run({lumacapBinary(), "--action=history"}, 20s).exitStatus, 0);
  expectPlaced("Recent Captures", false);
  if (GetParam() == Compositor::gnome) return;
  openChooser();
  expectPlaced("Capture a Window");
}

INSTANTIATE_TEST_SUITE_P(Wayland, WaylandDialogsTest,
                         ::testing::Values(Compositor::kwin, Compositor::gnome, Compositor::sway),
                         compositorName);

// GNOME lists no windows to programs (its Capture Window… is the portal's own dialog).
INSTANTIATE_TEST_SUITE_P(Wayland, WaylandWindowsTest, ::testing::Values(Compositor::kwin, Compositor::sway),
                         compositorName);

// GNOME lists no windows to programs: Capture Window… opens the desktop's own screenshot dialog
// (the portal's window on GNOME 43, the Shell's screenshot UI on GNOME 48), where the user chooses
// the window; closing it is no error.
class WaylandDesktopChoosesWindowTest : public WaylandTest {};

TEST_P(WaylandDesktopChoosesWindowTest, captureWindowOpensTheDesktopsScreenshotDialog) {
  // What the desktop shows: its windows' titles, then the Shell's screenshot UI when open.
  const auto shown = [&] {
    std::string titles;
    for (const DesktopWindow& window : desktop().windows())
      titles += window.title + (window.focused ? " (focused); " : "; ");
    for (const std::string& dialog : desktop().shellDialogs())
      if (dialog == "Screenshot UI") titles += "Screenshot UI (focused); ";
    return titles;
  };
  // The desktop's dialog (with the focus), by its whole title.
  const auto chooserShown = [&](bool focused = false) {
    const std::string titles = "; " + shown();
    for (const std::string title : {"; Screenshot", "; Screenshot UI"})
      if (titles.find(title + " (focused);") != std::string::npos ||
          (!focused && titles.find(title + ";") != std::string::npos))
        return true;
    return false;
  };
  auto application = desktop().spawn({lumacapBinary()});
  ASSERT_TRUE(
      waitUntil([&] { return desktop().output(*application).find("lumacap: ") != std::string::npos; }, 30s));
  const std::string before = shown();
  ASSERT_FALSE(chooserShown()) << before;
  const auto chose = desktop().run({lumacapBinary(), "--action=capture-window"}, 20s);
  ASSERT_EQ(chose.exitStatus, 0) << chose.standardError;
  EXPECT_TRUE(waitUntil([&] { return chooserShown(); }, 20s))
      << "before: " << before << "\nafter: " << shown() << "\n"
      << desktop().output(*application);
  EXPECT_EQ(shown().find("Capture a Window"), std::string::npos);  // not Lumacap's own chooser
  // Closed with Escape once it has the focus.
  ASSERT_TRUE(waitUntil([&] { return chooserShown(true); })) << shown();
  desktop().key("escape");
  EXPECT_TRUE(waitUntil([&] { return !chooserShown(); })) << shown();
  EXPECT_TRUE(application->running());
  application->stop();
}

INSTANTIATE_TEST_SUITE_P(Wayland, WaylandDesktopChoosesWindowTest, ::testing::Values(Compositor::gnome),
                         compositorName);

}  // namespace
}  // namespace lumacap::test
