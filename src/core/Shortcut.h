#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace lumacap {

// The global key combination that starts a region capture: one key plus the
// modifier keys that must be held. `command` is the Super key, `option` Alt. Key codes are macOS virtual key
// codes (ANSI layout), so a stored shortcut means the same key on every platform.
struct Shortcut {
  uint32_t keyCode = 19;  // the "2" key
  std::string keyLabel = "2";
  bool command = true;
  bool shift = true;
  bool option = false;
  bool control = false;

  // Super + Shift + "2".
  static const Shortcut& initial();

  // The Carbon modifier mask: command 256, shift 512, option 2048, control 4096.
  uint32_t modifiers() const;
  // The modifier names in the order Ctrl, Alt, Shift, Super, then the key,
  // joined by "+": "Shift+Super+2".
  std::string label() const;
  // The shortcut a label names (as `label` writes it, in any letter case,
  // the modifiers in any order; "Meta" or "Win" for Super); nothing for
  // other text or a key that is not offered.
  static std::optional<Shortcut> fromLabel(std::string_view text);
  // Why the combination is not acceptable, or nothing when it is.
  std::optional<std::string> validationMessage() const;

  // The stored JSON form: an object with the six fields as keys.
  std::string encoded() const;
  // Decodes the stored form; nothing when the bytes are not a complete, well-typed shortcut.
  static std::optional<Shortcut> decoded(std::string_view bytes);
  // A usable shortcut from stored bytes: the decoded one when it decodes and
  // validates, else `initial`.
  static Shortcut restored(const std::optional<std::string>& from);

  bool operator==(const Shortcut&) const = default;
};

// A key a shortcut may use, with its macOS virtual key code.
struct ShortcutKey {
  const char* label;
  uint32_t keyCode;
};
// The keys offered, in menu order.
inline constexpr ShortcutKey offeredShortcutKeys[] = {{"1", 18}, {"2", 19}, {"3", 20}, {"4", 21}, {"5", 23},
                                                      {"6", 22}, {"7", 26}, {"8", 28}, {"9", 25}, {"0", 29},
                                                      {"S", 1},  {"D", 2},  {"F", 3},  {"G", 5}};

// JSON coding; from_json throws nlohmann::json exceptions on a missing key or a wrong type.
void to_json(nlohmann::json& json, const Shortcut& shortcut);
void from_json(const nlohmann::json& json, Shortcut& shortcut);

}  // namespace lumacap
