#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <memory>
#include <sstream>
#include <tuple>

#include "app/hotkey/CaptureKeys.h"
#include "app/hotkey/HotKeyManager.h"
#include "app/model/SettingsManager.h"
#include "platform/x11/XcbConnection.h"
#include "platform/x11/XcbHotKeyService.h"
#include "support/AwaitTask.h"
#include "support/IntegrationMain.h"

namespace lumacap {
namespace {

using namespace std::chrono_literals;

const Shortcut optionS{1, "S", false, false, true, false};
constexpr uint16_t superShift = XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT;

using test::processEventsFor;
using test::processEventsUntil;

// Presses the space-separated combinations one after the other.
void pressKeys(const std::string& keys) {
  std::vector<std::string> arguments{"key"};
  std::istringstream words(keys);
  for (std::string word; words >> word;) arguments.push_back(word);
  ASSERT_TRUE(test::sharedXServer().xdotool(arguments));
}

bool lockIsOn(const std::string& name) {
  const std::string state = test::runProcess({"xset", "q"}).standardOutput;
  const auto at = state.find(name + ":");
  return at != std::string::npos &&
         state.compare(state.find_first_not_of(' ', at + name.size() + 1), 2, "on") == 0;
}

// Another X client, such as a desktop environment holding its own shortcuts.
class OtherClient {
 public:
  xcb_keycode_t keycode(uint32_t keysym) {
    auto* symbols = xcb_key_symbols_alloc(x_.get());
    const XcbReply<xcb_keycode_t> codes = xcbOwned(xcb_key_symbols_get_keycode(symbols, keysym));
    xcb_key_symbols_free(symbols);
    return codes ? codes.get()[0] : 0;
  }

  uint16_t numLockMask() {
    const xcb_keycode_t numLock = keycode(0xff7f);
    const auto mapping =
        xcbOwned(xcb_get_modifier_mapping_reply(x_.get(), xcb_get_modifier_mapping(x_.get()), nullptr));
    const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(mapping.get());
    for (int index = 0; index < 8 * mapping->keycodes_per_modifier; ++index)
      if (keys[index] == numLock)
        return static_cast<uint16_t>(1u << (index / mapping->keycodes_per_modifier));
    return 0;
  }

  // The X error code of grabbing the key, or 0 when the grab succeeded.
  int grab(uint32_t keysym, uint16_t modifiers) {
    auto cookie = xcb_grab_key_checked(x_.get(), false, x_.root(), modifiers, keycode(keysym),
                                       XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    const auto error = xcbOwned(xcb_request_check(x_.get(), cookie));
    return error ? error->error_code : 0;
  }

  void ungrab(uint32_t keysym, uint16_t modifiers) {
    xcb_ungrab_key(x_.get(), keycode(keysym), x_.root(), modifiers);
    xcb_flush(x_.get());
  }

 private:
  XcbConnection x_{test::sharedXServer().display()};
};

class HotKeyIntegrationTest : public ::testing::Test {
 protected:
  HotKeyIntegrationTest() {
    manager->setAction([this] {
      ++presses;
      onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    });
  }

  std::unique_ptr<HotKeyManager> manager =
      std::make_unique<HotKeyManager>(std::make_unique<XcbHotKeyService>());
  int presses = 0;
  bool onMainThread = true;
};

TEST_F(HotKeyIntegrationTest, EachPressRunsTheActionOnceOnTheMainThreadHoldingCountsOnce) {
  manager->registerShortcut(Shortcut::initial());
  pressKeys("super+shift+2");
  EXPECT_TRUE(processEventsUntil([&] { return presses == 1; }));
  pressKeys("super+shift+2 super+shift+2");
  EXPECT_TRUE(processEventsUntil([&] { return presses == 3; }));
  // Neither the releases nor other combinations count.
  pressKeys("super+2 shift+2 ctrl+shift+2");
  processEventsFor(300ms);
  EXPECT_EQ(presses, 3);
  EXPECT_TRUE(onMainThread);

  // Holding the combination down past the repeat delay counts once.
  ASSERT_EQ(test::runProcess({"xset", "r", "on"}).exitStatus, 0);
  ASSERT_TRUE(test::sharedXServer().xdotool({"keydown", "super+shift+2"}));
  processEventsFor(1500ms);
  ASSERT_TRUE(test::sharedXServer().xdotool({"keyup", "super+shift+2"}));
  processEventsFor(300ms);
  EXPECT_EQ(presses, 4);
}

// Each lock in turn on and off again, so that later tests find both off.
TEST_F(HotKeyIntegrationTest, PressesCountWhateverTheLockKeys) {
  manager->registerShortcut(Shortcut::initial());
  for (const auto& [key, name, on] : {std::tuple{"Num_Lock", "Num Lock", true},
                                      {"Caps_Lock", "Caps Lock", true},
                                      {"Num_Lock", "Num Lock", false},
                                      {"Caps_Lock", "Caps Lock", false}}) {
    pressKeys(key);
    ASSERT_TRUE(test::waitUntil([&, name = name, on = on] { return lockIsOn(name) == on; }, 2s)) << name;
    const int expected = presses + 1;
    pressKeys("super+shift+2");
    EXPECT_TRUE(processEventsUntil([&] { return presses == expected; })) << name << (on ? " on" : " off");
  }
}

// The region key moved, and the key of another kind of capture: each
// press runs its own capture, a moved key leaves its old combination free,
// and a key already in use is refused.
TEST_F(HotKeyIntegrationTest, RegisteringAgainMovesTheGrabAndEachCaptureKeyRunsItsCapture) {
  manager->registerShortcut(Shortcut::initial());
  manager->registerShortcut(optionS);
  SettingsManager settings;
  std::vector<CaptureMode> captures;
  CaptureKeys keys([](CaptureMode) { return std::make_unique<XcbHotKeyService>(); }, settings);
  keys.setAction([&](CaptureMode mode) { captures.push_back(mode); });
  keys.set(CaptureMode::display, Shortcut::fromLabel("Ctrl+Alt+3"));
  keys.set(CaptureMode::lastRegion, Shortcut::fromLabel("Super+Shift+3"));
  keys.set(CaptureMode::display, Shortcut::fromLabel("Ctrl+Alt+4"));
  EXPECT_THROW(keys.set(CaptureMode::window, Shortcut::fromLabel("Shift+Super+2")), ShortcutError);
  EXPECT_THROW(keys.set(CaptureMode::window, Shortcut::fromLabel("super+SHIFT+3")), ShortcutError);
  // Events arrive in order: had an old combination fired, it would count first.
  pressKeys("super+shift+2 ctrl+alt+3 alt+s ctrl+alt+4 super+shift+3");
  EXPECT_TRUE(processEventsUntil([&] { return presses == 1 && captures.size() == 2; }));
  processEventsFor(300ms);
  EXPECT_EQ(presses, 1);
  EXPECT_EQ(captures, (std::vector{CaptureMode::display, CaptureMode::lastRegion}));
  EXPECT_EQ(settings.captureKey(CaptureMode::display), Shortcut::fromLabel("Ctrl+Alt+4"));
  EXPECT_EQ(settings.captureKey(CaptureMode::window), std::nullopt);

  OtherClient other;
  EXPECT_EQ(other.grab('2', superShift), 0) << "the old combination is still held";
  EXPECT_EQ(other.grab('3', XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1), 0)
      << "the display's old key is still held";
  keys.set(CaptureMode::lastRegion, std::nullopt);
  EXPECT_EQ(other.grab('3', superShift), 0);
}

TEST_F(HotKeyIntegrationTest, CombinationHeldByAnotherClientFailsAndLeavesNothingGrabbed) {
  manager->registerShortcut(optionS);
  OtherClient other;
  const uint16_t bothLocks = other.numLockMask() | XCB_MOD_MASK_LOCK;
  ASSERT_NE(other.numLockMask(), 0);
  // Only the variant with both locks is taken, so the others succeed first and must be undone.
  ASSERT_EQ(other.grab('2', superShift | bothLocks), 0);

  try {
    manager->registerShortcut(Shortcut::initial());
    FAIL() << "expected a ShortcutError";
  } catch (const ShortcutError& error) {
    EXPECT_EQ(error.code(), XCB_ACCESS);
    EXPECT_EQ(error.description(), "This shortcut is in use or unavailable. Choose another combination.");
  }
  EXPECT_EQ(manager->registeredShortcut(), std::nullopt);
  EXPECT_EQ(other.grab('2', superShift), 0);
  EXPECT_EQ(other.grab('2', superShift | XCB_MOD_MASK_LOCK), 0);
  EXPECT_EQ(other.grab('s', XCB_MOD_MASK_1), 0) << "the previous shortcut is released as well";
  other.ungrab('s', XCB_MOD_MASK_1);

  manager->registerShortcut(optionS);
  pressKeys("alt+s");
  EXPECT_TRUE(processEventsUntil([&] { return presses == 1; }));
}

TEST_F(HotKeyIntegrationTest, UnregisteringAndDestroyingFreeEveryVariant) {
  OtherClient other;
  const uint16_t numLock = other.numLockMask();
  const uint16_t variants[] = {0, numLock, XCB_MOD_MASK_LOCK,
                               static_cast<uint16_t>(numLock | XCB_MOD_MASK_LOCK)};

  manager->registerShortcut(Shortcut::initial());
  for (uint16_t locks : variants) EXPECT_EQ(other.grab('2', superShift | locks), XCB_ACCESS) << locks;
  manager->unregisterShortcut();
  for (uint16_t locks : variants) {
    EXPECT_EQ(other.grab('2', superShift | locks), 0) << locks;
    other.ungrab('2', superShift | locks);
  }

  manager->registerShortcut(optionS);
  manager.reset();
  for (uint16_t locks : variants) EXPECT_EQ(other.grab('s', XCB_MOD_MASK_1 | locks), 0) << locks;
}

TEST(XcbHotKeyService, RefusesAKeyItDoesNotOffer) {
  EXPECT_EQ(XcbHotKeyService().grab(Shortcut{4, "H", true, false, false, false}), HotKeyService::unmappedKey);
}

}  // namespace
}  // namespace lumacap
