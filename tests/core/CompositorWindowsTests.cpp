#include "core/CompositorWindows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace lumacap {
namespace {

// Two outputs; the left workspace tiles foot (focused before) and a Firefox
// that has the focus now, with a floating Xwayland dialog above them; the
// right output shows a workspace whose view is not visible.
constexpr const char* swayTree = R"({
  "id": 1, "type": "root", "rect": {"x": 0, "y": 0, "width": 2560, "height": 800}, "focus": [3, 4],
  "nodes": [
    {"id": 3, "type": "output", "name": "HEADLESS-1", "focus": [5],
     "nodes": [
       {"id": 5, "type": "workspace", "name": "1", "focus": [9, 8, 7],
        "nodes": [
          {"id": 7, "type": "con", "name": "~ — foot", "app_id": "foot", "pid": 301, "focused": false,
           "visible": true, "rect": {"x": 0, "y": 0, "width": 640, "height": 800},
           "window_rect": {"x": 2, "y": 2, "width": 636, "height": 796}, "nodes": [], "floating_nodes": []},
          {"id": 8, "type": "con", "name": "Docs", "app_id": "firefox", "pid": 302, "focused": true,
           "visible": true, "rect": {"x": 640, "y": 0, "width": 640, "height": 800},
           "window_rect": {"x": 2, "y": 2, "width": 636, "height": 796}, "nodes": [], "floating_nodes": []}],
        "floating_nodes": [
          {"id": 9, "type": "floating_con", "name": "Open", "app_id": null, "pid": 303, "focused": false,
           "visible": true, "window_properties": {"class": "Gimp"},
           "rect": {"x": 100, "y": 90, "width": 300, "height": 200},
           "window_rect": {"x": 0, "y": 0, "width": 300, "height": 200}, "nodes": [], "floating_nodes": []}]}]},
    {"id": 4, "type": "output", "name": "HEADLESS-2", "focus": [6],
     "nodes": [
       {"id": 6, "type": "workspace", "name": "2", "focus": [10],
        "nodes": [
          {"id": 10, "type": "con", "name": null, "app_id": "kitty", "pid": 304, "visible": false,
           "rect": {"x": 1280, "y": 0, "width": 1280, "height": 800},
           "window_rect": {"x": 0, "y": 0, "width": 1280, "height": 800}, "nodes": [], "floating_nodes": []}],
        "floating_nodes": []}]}]
})";

TEST(SwayTree, listsViewsFrontMostFirstWithTheirContentAreaAndApplication) {
  const std::vector<CompositorWindow> windows = parseSwayTree(swayTree);
  ASSERT_EQ(windows.size(), 4u);
  // Floating above tiled; among tiled, the most recently focused first.
  EXPECT_EQ(windows[0], (CompositorWindow{"9", 303, "Gimp", "Open", Rect{100, 90, 300, 200}, false, true}));
  EXPECT_EQ(windows[1], (CompositorWindow{"8", 302, "firefox", "Docs", Rect{642, 2, 636, 796}, true, true}));
  EXPECT_EQ(windows[2].handle, "7");
  EXPECT_EQ(windows[2].frame, (Rect{2, 2, 636, 796}));
  EXPECT_EQ(windows[3], (CompositorWindow{"10", 304, "kitty", "", Rect{1280, 0, 1280, 800}, false, false}));
}

TEST(SwayTree, refusesWhatIsNotATree) {
  EXPECT_THROW(parseSwayTree("not json"), std::runtime_error);
  EXPECT_THROW(parseSwayTree(R"({"nodes": [3]})"), std::runtime_error);
  EXPECT_TRUE(parseSwayTree(R"({"id": 1, "nodes": []})").empty());
}

TEST(SwayCommand, succeedsOnlyWhenEveryCommandDid) {
  EXPECT_TRUE(swayCommandSucceeded(R"([{"success": true}])"));
  EXPECT_FALSE(swayCommandSucceeded(R"([{"success": false, "error": "No matching node."}])"));
  EXPECT_FALSE(swayCommandSucceeded(R"([{"success": true}, {"success": false}])"));
  EXPECT_FALSE(swayCommandSucceeded("[]"));
  EXPECT_FALSE(swayCommandSucceeded("garbage"));
}

TEST(FocusedOutput, isNamedAndNoneWhenNoneIsOrTheAnswerIsUnreadable) {
  EXPECT_EQ(focusedOutputName(R"([{"name": "HEADLESS-1", "focused": false},
                                  {"name": "HEADLESS-2", "focused": true, "active": true}])"),
            "HEADLESS-2");
  EXPECT_EQ(focusedOutputName(R"([{"name": "HEADLESS-1", "focused": false}])"), std::nullopt);
  EXPECT_EQ(focusedOutputName(R"([{"focused": true}, 7])"), std::nullopt);
  EXPECT_EQ(focusedOutputName("{\"name\""), std::nullopt);
}

TEST(KWinWindowList, readsTheScriptsReportTopFirst) {
  const std::vector<CompositorWindow> windows = parseKWinWindowList(R"([
    {"id": "{a}", "pid": 10, "resourceClass": "konsole", "caption": "~ : bash", "x": 0, "y": 0,
     "width": 800, "height": 600, "active": false, "minimized": true},
    {"id": "{b}", "pid": 11, "resourceClass": "foot", "caption": "agent", "x": 1300.5, "y": 20,
     "width": 640, "height": 480, "active": true, "minimized": false}])");
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0],
            (CompositorWindow{"{b}", 11, "foot", "agent", Rect{1300.5, 20, 640, 480}, true, true}));
  EXPECT_EQ(windows[1].handle, "{a}");
  EXPECT_FALSE(windows[1].visible);
}

TEST(KWinWindowList, refusesAReportItCannotRead) {
  EXPECT_THROW(parseKWinWindowList("{\"id\": 1}"), std::runtime_error);
  EXPECT_THROW(parseKWinWindowList("[{\"pid\": 3}]"), std::runtime_error);
  EXPECT_THROW(parseKWinWindowList("[1"), std::runtime_error);
}

// Two monitors: DP-1 shows workspace 1 with its special workspace open,
// HDMI-A-1 shows workspace 3. A floating Xwayland dialog has the focus, a
// kitty on workspace 2 had it before; a tab hidden in kitty's group, a
// window not yet mapped and one never focused come last.
constexpr const char* hyprlandMonitors = R"([
  {"id": 0, "name": "DP-1", "focused": false, "activeWorkspace": {"id": 1, "name": "1"},
   "specialWorkspace": {"id": -98, "name": "special:scratch"}},
  {"id": 1, "name": "HDMI-A-1", "focused": true, "activeWorkspace": {"id": 3, "name": "3"},
   "specialWorkspace": {"id": 0, "name": ""}}])";
constexpr const char* hyprlandClients = R"([
  {"address": "0x5a01", "mapped": true, "hidden": false, "at": [10, 40], "size": [940, 1030],
   "workspace": {"id": 1, "name": "1"}, "floating": false, "pid": 401, "class": "foot",
   "title": "agent", "focusHistoryID": 2},
  {"address": "0x5a02", "mapped": true, "hidden": false, "at": [0, 0], "size": [800, 600],
   "workspace": {"id": 2, "name": "2"}, "pid": 402, "class": "kitty", "title": "~", "focusHistoryID": 1},
  {"address": "0x5a03", "mapped": true, "hidden": false, "at": [2100.5, 300], "size": [400, 250],
   "workspace": {"id": 3, "name": "3"}, "floating": true, "pid": 403, "class": "Gimp", "title": "Open",
   "focusHistoryID": 0},
  {"address": "0x5a04", "mapped": true, "hidden": false, "at": [200, 100], "size": [600, 400],
   "workspace": {"id": -98, "name": "special:scratch"}, "pid": 404, "class": "pavucontrol",
   "title": "Volume", "focusHistoryID": -1},
  {"address": "0x5a05", "mapped": true, "hidden": true, "at": [10, 40], "size": [940, 1030],
   "workspace": {"id": 1, "name": "1"}, "pid": 405, "class": "foot", "title": "tab", "focusHistoryID": 3},
  {"address": "0x5a06", "mapped": false, "hidden": false, "at": [0, 0], "size": [0, 0],
   "workspace": {"id": 1, "name": "1"}, "pid": 406, "class": "", "title": "", "focusHistoryID": 4}])";

TEST(HyprlandClients, listsWindowsInFocusOrderVisibleOnlyOnShownWorkspaces) {
  const std::vector<CompositorWindow> windows = parseHyprlandClients(hyprlandClients, hyprlandMonitors);
  ASSERT_EQ(windows.size(), 6u);
  EXPECT_EQ(windows[0],
            (CompositorWindow{"0x5a03", 403, "Gimp", "Open", Rect{2100.5, 300, 400, 250}, true, true}));
  EXPECT_EQ(windows[1], (CompositorWindow{"0x5a02", 402, "kitty", "~", Rect{0, 0, 800, 600}, false, false}));
  EXPECT_EQ(windows[2],
            (CompositorWindow{"0x5a01", 401, "foot", "agent", Rect{10, 40, 940, 1030}, false, true}));
  EXPECT_EQ(windows[3].handle, "0x5a05");
  EXPECT_FALSE(windows[3].visible);  // another tab of the group shows
  EXPECT_EQ(windows[4].handle, "0x5a06");
  EXPECT_FALSE(windows[4].visible);  // not mapped
  EXPECT_EQ(windows[5].handle, "0x5a04");
  EXPECT_TRUE(windows[5].visible);  // the open special workspace
}

TEST(HyprlandClients, theFocusHistorysFirstIsActiveOnlyWhereItIsShown) {
  // Switched to an empty workspace: nothing has the focus.
  const auto windows =
      parseHyprlandClients(hyprlandClients, R"([{"name": "DP-1", "activeWorkspace": {"id": 7}}])");
  EXPECT_TRUE(std::none_of(windows.begin(), windows.end(), [](const auto& window) { return window.active; }));
}

TEST(HyprlandClients, refusesAnswersItCannotRead) {
  EXPECT_THROW(parseHyprlandClients("ok", "[]"), std::runtime_error);
  EXPECT_THROW(parseHyprlandClients("[]", "unknown request"), std::runtime_error);
  EXPECT_THROW(parseHyprlandClients(R"({"address": "0x1"})", "[]"), std::runtime_error);
  EXPECT_THROW(parseHyprlandClients(R"([{"pid": 3}])", "[]"), std::runtime_error);
  EXPECT_TRUE(parseHyprlandClients("[]", "[]").empty());
}

TEST(HyprlandMonitors, theFocusedOneIsNamed) {
  EXPECT_EQ(focusedOutputName(hyprlandMonitors), "HDMI-A-1");
  EXPECT_EQ(focusedOutputName("unknown request"), std::nullopt);
}

}  // namespace
}  // namespace lumacap
