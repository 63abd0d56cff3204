#include "platform/wayland/KeyboardLayout.h"

#include <sys/mman.h>

#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>
#include <cstring>

#include "platform/wayland/WaylandConnection.h"

namespace lumacap {
namespace {

// Linux input key codes of the keys Settings offers, by macOS virtual key code.
struct OfferedKey {
  uint32_t macKeyCode;
  uint32_t evdevCode;
};
constexpr OfferedKey layoutOfferedKeys[] = {
    {18, 2}, {19, 3},  {20, 4},  {21, 5}, {23, 6}, {22, 7}, {26, 8},
    {28, 9}, {25, 10}, {29, 11}, {1, 31}, {2, 32}, {3, 33}, {5, 34},
};
constexpr uint32_t evdevToXkb = 8;

// The keymap text a wl_keyboard sends when it is created.
struct KeymapReceiver {
  std::string text;

  static void keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    auto* self = static_cast<KeymapReceiver*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
      void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
      if (mapped != MAP_FAILED) {
        self->text.assign(static_cast<const char*>(mapped), strnlen(static_cast<const char*>(mapped), size));
        munmap(mapped, size);
      }
    }
    close(fd);
  }
  static void enter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
  static void leave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
  static void key(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
  static void modifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
  static void repeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}
};
const wl_keyboard_listener keyboardListener{&KeymapReceiver::keymap,    &KeymapReceiver::enter,
                                            &KeymapReceiver::leave,     &KeymapReceiver::key,
                                            &KeymapReceiver::modifiers, &KeymapReceiver::repeatInfo};

// What the seat offers; a keyboard may be asked for only when it offers one (wlroots
// 0.18 ends the connection of a client that asks a seat without a keyboard for it).
const wl_seat_listener keymapSeatListener{
    .capabilities = [](void* data, wl_seat*,
                       uint32_t capabilities) { *static_cast<uint32_t*>(data) = capabilities; },
    .name = [](void*, wl_seat*, const char*) {},
};

// The first seat's keymap, or empty when the compositor has no keyboard to describe.
std::string compositorKeymap() {
  const std::unique_ptr<WaylandConnection> connection = WaylandConnection::open();
  if (!connection) return {};
  auto* seat = static_cast<wl_seat*>(connection->bind(wl_seat_interface, 1));
  if (!seat) return {};
  uint32_t capabilities = 0;
  wl_seat_add_listener(seat, &keymapSeatListener, &capabilities);
  connection->roundtrip();  // the seat's capabilities
  if (!(capabilities & WL_SEAT_CAPABILITY_KEYBOARD)) {
    wl_seat_destroy(seat);
    connection->flush();
    return {};
  }
  KeymapReceiver receiver;
  wl_keyboard* keyboard = wl_seat_get_keyboard(seat);
  wl_keyboard_add_listener(keyboard, &keyboardListener, &receiver);
  connection->roundtrip();
  wl_keyboard_destroy(keyboard);
  wl_seat_destroy(seat);
  connection->flush();
  return receiver.text;
}

}  // namespace

void KeyboardLayout::Free::operator()(xkb_context* context) const { xkb_context_unref(context); }
void KeyboardLayout::Free::operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }

KeyboardLayout::KeyboardLayout(xkb_context* context, xkb_keymap* keymap)
    : context_(context), keymap_(keymap) {}
KeyboardLayout::KeyboardLayout(KeyboardLayout&&) noexcept = default;
KeyboardLayout::~KeyboardLayout() = default;

KeyboardLayout KeyboardLayout::current() {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  const std::string text = context ? compositorKeymap() : std::string();
  xkb_keymap* keymap = nullptr;
  if (!text.empty())
    keymap = xkb_keymap_new_from_string(context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                        XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (context && !keymap) keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
  return KeyboardLayout(context, keymap);
}

KeyboardLayout KeyboardLayout::named(const std::string& layout, const std::string& variant) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  const xkb_rule_names names{nullptr, nullptr, layout.c_str(), variant.c_str(), nullptr};
  xkb_keymap* keymap =
      context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
  return KeyboardLayout(context, keymap);
}

std::optional<std::string> KeyboardLayout::shiftedKeyName(uint32_t macKeyCode) const {
  if (!keymap_) return std::nullopt;
  for (const OfferedKey& key : layoutOfferedKeys) {
    if (key.macKeyCode != macKeyCode) continue;
    const std::unique_ptr<xkb_state, void (*)(xkb_state*)> state(xkb_state_new(keymap_.get()),
                                                                 xkb_state_unref);
    if (!state) return std::nullopt;
    const xkb_mod_index_t shift = xkb_keymap_mod_get_index(keymap_.get(), XKB_MOD_NAME_SHIFT);
    if (shift == XKB_MOD_INVALID) return std::nullopt;
    xkb_state_update_mask(state.get(), 1u << shift, 0, 0, 0, 0, 0);
    const xkb_keysym_t symbol = xkb_state_key_get_one_sym(state.get(), key.evdevCode + evdevToXkb);
    if (symbol == XKB_KEY_NoSymbol) return std::nullopt;
    char name[64];
    if (xkb_keysym_get_name(symbol, name, sizeof name) <= 0) return std::nullopt;
    return std::string(name);
  }
  return std::nullopt;
}

}  // namespace lumacap
