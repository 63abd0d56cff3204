#include "platform/x11/XcbHotKeyService.h"

#include <xcb/xcb_keysyms.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform/x11/XcbConnection.h"

namespace lumacap {
namespace {

constexpr uint32_t numLockKeysym = 0xff7f;  // XK_Num_Lock

struct KeyEntry {
  uint32_t macKeyCode;
  uint32_t keysym;
};

// The keys the settings offer; letters by their lower-case keysym, which is
// what the unshifted key produces.
constexpr KeyEntry offeredKeys[] = {
    {18, '1'}, {19, '2'}, {20, '3'}, {21, '4'}, {23, '5'}, {22, '6'}, {26, '7'},
    {28, '8'}, {25, '9'}, {29, '0'}, {1, 's'},  {2, 'd'},  {3, 'f'},  {5, 'g'},
};

xcb_connection_t* applicationConnection() {
  auto* application = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return application ? application->connection() : nullptr;
}

std::vector<uint16_t> lockVariants(uint16_t numLock) {
  std::vector<uint16_t> variants{0, numLock, XCB_MOD_MASK_LOCK,
                                 static_cast<uint16_t>(numLock | XCB_MOD_MASK_LOCK)};
  std::sort(variants.begin(), variants.end());
  variants.erase(std::unique(variants.begin(), variants.end()), variants.end());
  return variants;
}

}  // namespace

XcbHotKeyService::XcbHotKeyService() : connection_(applicationConnection()) {
  if (!connection_) return;
  for (auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_)); screens.rem;
       xcb_screen_next(&screens))
    roots_.push_back(screens.data->root);
  QCoreApplication::instance()->installNativeEventFilter(this);
}

XcbHotKeyService::~XcbHotKeyService() {
  // Once the application is gone its connection is closed, which ends the grabs.
  if (QCoreApplication::instance()) release();
}

uint32_t XcbHotKeyService::keysymFor(uint32_t macKeyCode) {
  for (const auto& entry : offeredKeys)
    if (entry.macKeyCode == macKeyCode) return entry.keysym;
  return 0;
}

uint16_t XcbHotKeyService::modifierMaskFor(const Shortcut& shortcut) {
  uint16_t mask = 0;
  if (shortcut.command) mask |= XCB_MOD_MASK_4;
  if (shortcut.shift) mask |= XCB_MOD_MASK_SHIFT;
  if (shortcut.option) mask |= XCB_MOD_MASK_1;
  if (shortcut.control) mask |= XCB_MOD_MASK_CONTROL;
  return mask;
}

std::vector<xcb_keycode_t> XcbHotKeyService::keycodesFor(uint32_t keysym) const {
  std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(
      xcb_key_symbols_alloc(connection_), &xcb_key_symbols_free);
  if (!symbols) return {};
  const auto found = xcbOwned(xcb_key_symbols_get_keycode(symbols.get(), keysym));
  std::vector<xcb_keycode_t> keycodes;
  for (auto* code = found.get(); code && *code != XCB_NO_SYMBOL; ++code) keycodes.push_back(*code);
  return keycodes;
}

// The modifier bit that NumLock sets, from the server's modifier mapping.
uint16_t XcbHotKeyService::numLockMask() const {
  const auto numLockKeys = keycodesFor(numLockKeysym);
  const auto mapping =
      xcbOwned(xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr));
  if (!mapping || numLockKeys.empty()) return 0;
  const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(mapping.get());
  const int perModifier = mapping->keycodes_per_modifier;
  for (int modifier = 0; modifier < 8; ++modifier) {
    for (int index = 0; index < perModifier; ++index) {
      xcb_keycode_t key = keys[modifier * perModifier + index];
      if (key != XCB_NO_SYMBOL && std::find(numLockKeys.begin(), numLockKeys.end(), key) != numLockKeys.end())
        return static_cast<uint16_t>(1u << modifier);
    }
  }
  return 0;
}

int XcbHotKeyService::grab(const Shortcut& shortcut) {
  release();
  if (!connection_ || roots_.empty()) return noDisplay;
  const uint32_t keysym = keysymFor(shortcut.keyCode);
  Grab wanted{keysym ? keycodesFor(keysym) : std::vector<xcb_keycode_t>{}, modifierMaskFor(shortcut),
              lockVariants(numLockMask())};
  if (wanted.keycodes.empty()) return unmappedKey;

  // All requests first, then their answers: one round trip in all. Checked
  // requests report their errors here instead of in the event queue.
  std::vector<xcb_void_cookie_t> cookies;
  for (xcb_window_t root : roots_)
    for (xcb_keycode_t keycode : wanted.keycodes)
      for (uint16_t locks : wanted.lockVariants)
        cookies.push_back(xcb_grab_key_checked(connection_, false, root, wanted.modifiers | locks, keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  int failure = 0;
  for (auto cookie : cookies) {
    if (const auto error = xcbOwned(xcb_request_check(connection_, cookie)); error && !failure)
      failure = error->error_code;
  }
  if (failure) {
    ungrab(wanted);  // the variants that did succeed
    return failure;
  }
  grab_ = std::move(wanted);
  lastRelease_.reset();
  return 0;
}

void XcbHotKeyService::release() {
  if (!grab_) return;
  ungrab(*grab_);
  grab_.reset();
}

// Releasing a combination this client does not hold changes nothing, so every
// variant is released whether or not its grab succeeded. Waits until the
// server has done it, so that another program may take the combination as
// soon as this returns.
void XcbHotKeyService::ungrab(const Grab& grab) {
  for (xcb_window_t root : roots_)
    for (xcb_keycode_t keycode : grab.keycodes)
      for (uint16_t locks : grab.lockVariants)
        xcb_ungrab_key(connection_, keycode, root, grab.modifiers | locks);
  xcbOwned(
      xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));  // a round trip
}

bool XcbHotKeyService::isRoot(xcb_window_t window) const {
  return std::find(roots_.begin(), roots_.end(), window) != roots_.end();
}

// A held key repeats: the server sends a release and a press with the same
// time stamp for every repeat (our connection does not ask for detectable
// auto-repeat). Only the first press of a physical key press counts. No
// "key is down" state is kept, since a release may go to another client that
// grabbed the keyboard meanwhile, and a lost release must not swallow the
// next real press.
bool XcbHotKeyService::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (!grab_ || eventType != "xcb_generic_event_t") return false;
  auto* event = static_cast<xcb_generic_event_t*>(message);
  const uint8_t type = event->response_type & 0x7f;
  if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
  // Press and release events share one layout.
  auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
  const auto& keys = grab_->keycodes;
  if (!isRoot(key->event) || std::find(keys.begin(), keys.end(), key->detail) == keys.end()) return false;

  if (type == XCB_KEY_RELEASE) {
    lastRelease_ = key->time;
    return true;
  }
  uint16_t locks = 0;
  for (uint16_t variant : grab_->lockVariants) locks |= variant;
  constexpr uint16_t modifierBits = 0xff;  // Shift, Lock, Control, Mod1–Mod5; not the mouse buttons
  if ((key->state & modifierBits & ~locks) != grab_->modifiers) return false;

  const bool repeat = lastRelease_ && *lastRelease_ == key->time;
  if (!repeat) queuePress();
  return true;
}

}  // namespace lumacap
