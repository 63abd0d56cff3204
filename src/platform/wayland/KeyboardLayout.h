#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct xkb_context;
struct xkb_keymap;

namespace lumacap {

// The user's keyboard layout, for naming what a key produces with Shift held.
class KeyboardLayout {
 public:
  // The keymap the compositor gives its clients (the layouts the user chose in the desktop's
  // settings); without one, xkb's defaults ($XKB_DEFAULT_LAYOUT…, else US).
  static KeyboardLayout current();
  // A named layout and variant ("de", ""), for checks.
  static KeyboardLayout named(const std::string& layout, const std::string& variant = {});

  KeyboardLayout(KeyboardLayout&&) noexcept;
  ~KeyboardLayout();

  // The xkb name of the symbol the key (a macOS virtual key code, as stored in a Shortcut) types
  // with Shift on the first layout: "at" for the "2" key on a US layout; nothing for a key it
  // does not know or without a keymap.
  std::optional<std::string> shiftedKeyName(uint32_t macKeyCode) const;

 private:
  KeyboardLayout(xkb_context* context, xkb_keymap* keymap);
  struct Free {
    void operator()(xkb_context* context) const;
    void operator()(xkb_keymap* keymap) const;
  };
  std::unique_ptr<xkb_context, Free> context_;
  std::unique_ptr<xkb_keymap, Free> keymap_;
};

}  // namespace lumacap
