#include "platform/wayland/CompositorWorkspace.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
#include <QTimer>
#include <mutex>
#include <stdexcept>

#include "platform/fake/FakeProcessSource.h"
#include "platform/fake/FakeScreenSource.h"
#include "platform/wayland/KWinWindowScripts.h"
#include "platform/wayland/SwayWindowList.h"
#include "platform/wayland/WindowListScreenSource.h"
#include "support/AwaitTask.h"
#include "support/SessionBus.h"
#include "support/StoppedPeer.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using namespace std::chrono_literals;

// A compositor's window list that answers what the test set, and records activations.
class ScriptedWindowList final : public CompositorWindowList {
 public:
  std::vector<CompositorWindow> windows() override {
    const std::lock_guard lock(mutex);
    ++listings;
    if (fails) throw std::runtime_error("the compositor went away");
    return listed;
  }
  bool activate(const CompositorWindow& window) override {
    const std::lock_guard lock(mutex);
    activated.push_back(window.handle);
    return true;
  }

  std::mutex mutex;
  std::vector<CompositorWindow> listed;
  std::vector<std::string> activated;
  int listings = 0;
  bool fails = false;
};

CompositorWindow window(std::string handle, int32_t pid, std::string title, bool active = false) {
  return CompositorWindow{std::move(handle),    pid,    "foot", std::move(title),
                          Rect{0, 0, 600, 400}, active, true};
}

// Lets the listing the workspace asked for come in.
void awaitListing(CompositorWorkspace& workspace) {
  QFuture<void> listed = workspace.refreshed();
  ASSERT_TRUE(test::processEventsUntil([&] { return listed.isFinished(); }));
}

class CompositorWorkspaceTest : public ::testing::Test {
 protected:
  CompositorWorkspaceTest() {
    processes.add({41, "foot", "Mon Dec  7 09:00:00 2026"});
    processes.add({42, "konsole", "Mon Dec  7 09:01:00 2026"});
    // Front-most first: the agent's second terminal window is above its first.
    list->listed = {window("a", 42, "build"), window("b", 41, "agent", true), window("c", 41, "logs")};
  }
  FakeProcessSource processes;
  std::shared_ptr<ScriptedWindowList> list = std::make_shared<ScriptedWindowList>();
  CompositorWorkspace workspace{list, processes};
};

TEST_F(CompositorWorkspaceTest, knowsTheApplicationsByTheirWindowsAndTitlesOnlyWhenUnambiguous) {
  EXPECT_FALSE(workspace.application(41));  // nothing listed yet: asked for, not waited for
  awaitListing(workspace);
  const auto terminal = workspace.application(41);
  ASSERT_TRUE(terminal);
  EXPECT_EQ(terminal->bundleIdentifier, "foot");
  EXPECT_EQ(terminal->started, "Mon Dec  7 09:00:00 2026");
  EXPECT_EQ(workspace.frontmostApplication()->pid, 41);
  EXPECT_EQ(workspace.windowTitle(42), "build");
  EXPECT_FALSE(workspace.windowTitle(41));  // two windows: a title would not say which
  EXPECT_FALSE(workspace.application(99));
  EXPECT_EQ(list->listings, 1);  // one listing answers the lookups of a moment
}

TEST_F(CompositorWorkspaceTest, activatesTheApplicationsFrontMostWindowUnlessItsProcessEnded) {
  awaitListing(workspace);
  const auto terminal = workspace.application(41);
  ASSERT_TRUE(terminal);
  QFuture<bool> activated = workspace.activate(*terminal);
  EXPECT_TRUE(activated.result());
  EXPECT_EQ(list->activated, std::vector<std::string>{"b"});

  processes.remove(41);
  processes.add({41, "bash", "Mon Dec  7 11:00:00 2026"});  // the pid went to another process
  EXPECT_FALSE(workspace.activate(*terminal).result());
  EXPECT_EQ(list->activated.size(), 1u);
}

TEST_F(CompositorWorkspaceTest, aCompositorThatDoesNotAnswerKnowsNoApplication) {
  list->fails = true;
  awaitListing(workspace);
  EXPECT_FALSE(workspace.application(41));
  EXPECT_FALSE(workspace.frontmostApplication());
  EXPECT_FALSE(
      workspace.activate(DesktopApplication{41, "foot", "foot", "Mon Dec  7 09:00:00 2026"}).result());
}

// KWin stopped (a stand-in owning its name, SIGSTOPped): the lookups answer at once from what was
// listed, the active display is asked on a worker, the GUI thread keeps serving its events from its
// own loop, and both end with nothing once KWin's time-out passes.
TEST(StoppedKWin, lookupsAndTheActiveDisplayLeaveTheGuiThreadServingAndEndWithNothing) {
  const test::SessionBus bus;
  {
    QDBusConnection connection =
        QDBusConnection::connectToBus(QString::fromStdString(bus.address()), QStringLiteral("stopped-kwin"));
    const test::StoppedBusPeer kwin(bus.address(), "org.kde.KWin");
    auto list = std::make_shared<KWinWindowScripts>(connection);
    FakeProcessSource processes;
    CompositorWorkspace workspace(list, processes);
    WindowListScreenSource source(std::make_unique<FakeScreenSource>(), list);
    const test::GuiStallMeter meter;
    std::optional<DesktopApplication> found;
    QFuture<std::optional<uint32_t>> active;
    QTimer::singleShot(0, [&] {  // from the event loop, as the application asks
      found = workspace.application(41);
      active = source.activeDisplay();
      // A call that would wait, made on the GUI thread by mistake, is refused rather than waited out.
      EXPECT_THROW(list->activeOutputName(), std::logic_error);
    });
    ASSERT_TRUE(test::processEventsUntil([&] { return active.isStarted(); }));
    QFuture<void> listed = workspace.refreshed();
    ASSERT_TRUE(test::processEventsUntil([&] { return listed.isFinished() && active.isFinished(); }, 30s));
    EXPECT_FALSE(found);
    EXPECT_FALSE(workspace.application(41));
    EXPECT_EQ(active.result(), std::nullopt);
    EXPECT_LT(meter.longest(), 500ms);
    EXPECT_FALSE(meter.servedFromNestedLoop());
  }
  QDBusConnection::disconnectFromBus(QStringLiteral("stopped-kwin"));
}

// sway's IPC stopped (a listener that never answers, SIGSTOPped): the capture's question which
// output is the user's waits on a worker, and ends unanswered once the listener goes.
TEST(StoppedSway, theActiveOutputIsAskedOnAWorkerWhileTheGuiThreadServes) {
  const test::TempDir folder;
  const std::string socket = (folder / "sway-ipc.sock").string();
  test::BackgroundProcess sway({"/usr/bin/python3", "-c",
                                "import socket, sys, time\n"
                                "s = socket.socket(socket.AF_UNIX)\ns.bind(sys.argv[1])\ns.listen()\n"
                                "time.sleep(3600)",
                                socket});
  ASSERT_TRUE(test::waitUntil([&] { return std::filesystem::exists(socket); }));
  ::kill(sway.pid(), SIGSTOP);
  WindowListScreenSource source(std::make_unique<FakeScreenSource>(),
                                std::make_shared<SwayWindowList>(socket, folder.path().string()));
  const test::GuiStallMeter meter;
  QFuture<std::optional<uint32_t>> active;
  QTimer::singleShot(0, [&] { active = source.activeDisplay(); });  // as a capture asks
  test::processEventsFor(1s);
  EXPECT_LT(meter.longest(), 500ms);
  EXPECT_FALSE(meter.servedFromNestedLoop());
  ::kill(sway.pid(), SIGCONT);
  sway.stop();
  ASSERT_TRUE(test::processEventsUntil([&] { return active.isFinished(); }));
  EXPECT_EQ(active.result(), std::nullopt);
}

// Whether the region overlay may open before the pictures is the screens' source's to say (KWin's
// yes reaches the overlay through the window list wrapped around it).
TEST(WindowListScreenSource, theScreensSourceSaysWhetherTheOverlayMayOpenBeforeThePictures) {
  for (const bool mayPrecede : {true, false}) {
    auto screens = std::make_unique<FakeScreenSource>();
    screens->overlayFirst = mayPrecede;
    WindowListScreenSource source(std::move(screens), std::make_shared<SwayWindowList>("/nonexistent", "/"));
    EXPECT_EQ(source.overlayMayPrecedePictures(), mayPrecede);
  }
}

TEST(WindowListScreenSource, aWindowIsReadFromTheDisplayHoldingItsCentreAtThatDisplaysDensity) {
  const std::vector<ShareableDisplay> displays = {ShareableDisplay{1, "DP-1", Rect{0, 0, 1280, 800}, 1},
                                                  ShareableDisplay{2, "DP-2", Rect{1280, 0, 1280, 800}, 2}};
  const auto right = WindowListScreenSource::windowArea(displays, Rect{1300, 100, 400, 300});
  ASSERT_TRUE(right);
  EXPECT_EQ(right->first.displayID, 2u);
  EXPECT_EQ(right->second, (PixelRect{40, 200, 800, 600}));
  // Mostly on the left display: cut to its edge.
  const auto spanning = WindowListScreenSource::windowArea(displays, Rect{1000, 0, 400, 300});
  ASSERT_TRUE(spanning);
  EXPECT_EQ(spanning->first.displayID, 1u);
  EXPECT_EQ(spanning->second, (PixelRect{1000, 0, 280, 300}));
  EXPECT_FALSE(WindowListScreenSource::windowArea(displays, Rect{3000, 0, 100, 100}));
}

}  // namespace
}  // namespace lumacap
