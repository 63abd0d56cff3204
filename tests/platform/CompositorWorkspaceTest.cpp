#include "platform/wayland/CompositorWorkspace.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <mutex>
#include <stdexcept>

#include "platform/fake/FakeProcessSource.h"
#include "platform/wayland/WindowListScreenSource.h"

namespace lumacap {
namespace {

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

// Runs `lookup` from the running event loop, as the application's lookups are made (before it
// runs, the workspace answers from what it listed before).
template <typename Lookup>
auto fromEventLoop(Lookup lookup) {
  decltype(lookup()) result;
  QEventLoop loop;
  QTimer::singleShot(0, &loop, [&] {
    result = lookup();
    loop.quit();
  });
  loop.exec();
  return result;
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
  EXPECT_FALSE(workspace.application(41));  // outside the event loop: nothing listed yet
  EXPECT_EQ(list->listings, 0);
  const auto terminal = fromEventLoop([&] { return workspace.application(41); });
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
  const auto terminal = fromEventLoop([&] { return workspace.application(41); });
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
  EXPECT_FALSE(fromEventLoop([&] { return workspace.application(41); }));
  EXPECT_FALSE(workspace.frontmostApplication());
  EXPECT_FALSE(
      workspace.activate(DesktopApplication{41, "foot", "foot", "Mon Dec  7 09:00:00 2026"}).result());
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
