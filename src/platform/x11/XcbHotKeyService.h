#pragma once

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/HotKeyService.h"

namespace lumacap {

// Global hot keys on X11: a passive key grab on the root window for the key and
// its modifiers, once for each state of the lock keys (none, NumLock,
// CapsLock, both) so that the combination works whatever lights are on. The
// grabs are made on the application's own X connection; its presses are
// picked out in a native event filter and queued to the main thread.
class XcbHotKeyService final : public HotKeyService, private QAbstractNativeEventFilter {
 public:
  // Uses the running QGuiApplication's X connection; without one (another
  // platform plugin), every grab fails with `noDisplay`.
  XcbHotKeyService();
  ~XcbHotKeyService() override;
  XcbHotKeyService(const XcbHotKeyService&) = delete;
  XcbHotKeyService& operator=(const XcbHotKeyService&) = delete;

  int grab(const Shortcut& shortcut) override;
  void release() override;

  // The X keysym of an offered key, from its macOS virtual key code; 0 for others.
  static uint32_t keysymFor(uint32_t macKeyCode);
  // The X modifier mask: ⌘ Super (Mod4), ⇧ Shift, ⌥ Alt (Mod1), ⌃ Control.
  static uint16_t modifierMaskFor(const Shortcut& shortcut);

 private:
  struct Grab {
    std::vector<xcb_keycode_t> keycodes;
    uint16_t modifiers = 0;
    std::vector<uint16_t> lockVariants;
  };

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
  std::vector<xcb_keycode_t> keycodesFor(uint32_t keysym) const;
  uint16_t numLockMask() const;
  void ungrab(const Grab& grab);
  bool isRoot(xcb_window_t window) const;

  xcb_connection_t* connection_ = nullptr;
  std::vector<xcb_window_t> roots_;
  std::optional<Grab> grab_;
  std::optional<xcb_timestamp_t> lastRelease_;
};

}  // namespace lumacap
