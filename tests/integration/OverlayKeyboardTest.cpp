#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include "app/capture/RegionSelector.h"
#include "platform/x11/XcbConnection.h"
#include "support/AwaitTask.h"
#include "support/IntegrationMain.h"

namespace lumacap {
namespace {

using test::processEventsUntil;

// Another program holds the keyboard (as a game or a screen locker may): the
// overlay cannot get Escape, says so, and cancels with the right button.
TEST(OverlayKeyboard, WhenAnotherProgramHoldsTheKeyboardTheRightButtonCancels) {
  XcbConnection other(test::sharedXServer().display());
  ASSERT_TRUE(other.connected());
  const auto grab =
      xcbOwned(xcb_grab_keyboard_reply(other.get(),
                                       xcb_grab_keyboard(other.get(), 0, other.root(), XCB_CURRENT_TIME,
                                                         XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                       nullptr));
  ASSERT_TRUE(grab && grab->status == XCB_GRAB_STATUS_SUCCESS);

  std::vector<std::optional<RegionSelection>> completions;
  RegionSelector selector(
      [&](std::optional<RegionSelection> selection) { completions.push_back(selection); });
  selector.show({OverlayScreen{QGuiApplication::primaryScreen(), 1, {}}});
  SelectionView* view = selector.windows().front()->view();
  ASSERT_TRUE(processEventsUntil([&] { return view->keyboardUnavailable(); }));

  ASSERT_TRUE(test::sharedXServer().xdotool({"mousemove", "300", "300", "click", "3"}));
  ASSERT_TRUE(processEventsUntil([&] { return !completions.empty(); }));
  EXPECT_EQ(completions, (std::vector<std::optional<RegionSelection>>{std::nullopt}));

  // Once the keyboard is free again within the retries, Escape works.
  completions.clear();
  RegionSelector again([&](std::optional<RegionSelection> selection) { completions.push_back(selection); });
  again.show({OverlayScreen{QGuiApplication::primaryScreen(), 1, {}}});
  xcb_ungrab_keyboard(other.get(), XCB_CURRENT_TIME);
  xcb_flush(other.get());
  SelectionView* second = again.windows().front()->view();
  ASSERT_TRUE(processEventsUntil([&] { return !second->keyboardUnavailable(); }));
  ASSERT_TRUE(test::sharedXServer().xdotool({"key", "Escape"}));
  ASSERT_TRUE(processEventsUntil([&] { return !completions.empty(); }));
  EXPECT_EQ(completions.front(), std::nullopt);
}

}  // namespace
}  // namespace lumacap
