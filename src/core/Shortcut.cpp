#include "core/Shortcut.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace lumacap {
namespace {

constexpr uint32_t commandMask = 256;
constexpr uint32_t shiftMask = 512;
constexpr uint32_t optionMask = 2048;
constexpr uint32_t controlMask = 4096;

// Print Screen has no macOS key code of its own; Apple keyboards put F13
// where PC keyboards have it, and PC keyboards on a Mac send F13 for it.
constexpr uint32_t printKeyCode = 105;
constexpr uint32_t sKeyCode = 1;

// What Linux desktops bind for screenshots: Print alone or with any of Shift,
// Ctrl and Alt (GNOME, KDE, Xfce, Cinnamon), and Shift+Super+S (some desktops'
// region capture).
bool isDesktopScreenshotKey(const Shortcut& shortcut) {
  if (shortcut.keyCode == printKeyCode) return !shortcut.command;
  return shortcut.keyCode == sKeyCode && shortcut.command && shortcut.shift && !shortcut.option &&
         !shortcut.control;
}

uint32_t keyCodeFrom(const nlohmann::json& value) {
  if (value.is_number_unsigned()) {
    auto number = value.get<uint64_t>();
    if (number <= std::numeric_limits<uint32_t>::max()) return static_cast<uint32_t>(number);
  } else if (value.is_number_float()) {
    // A whole number written with a fraction ("19.0") is still that key.
    double number = value.get<double>();
    if (number >= 0 && number <= std::numeric_limits<uint32_t>::max() && std::trunc(number) == number)
      return static_cast<uint32_t>(number);
  }
  throw nlohmann::json::type_error::create(302, "keyCode must be an unsigned 32-bit integer", &value);
}

bool booleanFrom(const nlohmann::json& json, const char* key) {
  const auto& value = json.at(key);
  if (!value.is_boolean())
    throw nlohmann::json::type_error::create(302, std::string(key) + " must be a Boolean", &value);
  return value.get<bool>();
}

}  // namespace

const Shortcut& Shortcut::initial() {
  static const Shortcut shortcut{};
  return shortcut;
}

uint32_t Shortcut::modifiers() const {
  return (command ? commandMask : 0) + (shift ? shiftMask : 0) + (option ? optionMask : 0) +
         (control ? controlMask : 0);
}

std::string Shortcut::label() const {
  std::string text;
  if (control) text += "Ctrl+";
  if (option) text += "Alt+";
  if (shift) text += "Shift+";
  if (command) text += "Super+";
  return text + keyLabel;
}

std::optional<std::string> Shortcut::validationMessage() const {
  if (isDesktopScreenshotKey(*this))
    return "Linux desktops use Print (alone or with Shift, Ctrl or Alt) and Shift+Super+S for screenshots. "
           "Choose another combination to avoid triggering two captures.";
  if (!command && !option && !control)
    return "Include Super, Ctrl, or Alt so normal typing is not intercepted.";
  return std::nullopt;
}

std::optional<Shortcut> Shortcut::fromLabel(std::string_view text) {
  Shortcut shortcut{0, "", false, false, false, false};
  std::string part;
  const auto take = [&](bool last) {
    for (char& c : part) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    bool* modifier = part == "CTRL" || part == "CONTROL"                  ? &shortcut.control
                     : part == "ALT"                                      ? &shortcut.option
                     : part == "SHIFT"                                    ? &shortcut.shift
                     : part == "SUPER" || part == "META" || part == "WIN" ? &shortcut.command
                                                                          : nullptr;
    if (!last) {
      if (!modifier || *modifier) return false;
      return *modifier = true;
    }
    for (const ShortcutKey& key : offeredShortcutKeys) {
      if (part == key.label) {
        shortcut.keyCode = key.keyCode;
        shortcut.keyLabel = key.label;
        return true;
      }
    }
    return false;
  };
  for (size_t start = 0;;) {
    const size_t plus = text.find('+', start);
    part = std::string(text.substr(start, plus == std::string_view::npos ? text.npos : plus - start));
    part.erase(0, part.find_first_not_of(' '));
    part.erase(part.find_last_not_of(' ') + 1);
    if (!take(plus == std::string_view::npos)) return std::nullopt;
    if (plus == std::string_view::npos) return shortcut;
    start = plus + 1;
  }
}

std::string Shortcut::encoded() const { return nlohmann::json(*this).dump(); }

std::optional<Shortcut> Shortcut::decoded(std::string_view bytes) {
  try {
    return nlohmann::json::parse(bytes).get<Shortcut>();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

Shortcut Shortcut::restored(const std::optional<std::string>& from) {
  if (from) {
    if (auto shortcut = decoded(*from); shortcut && !shortcut->validationMessage()) return *shortcut;
  }
  return initial();
}

void to_json(nlohmann::json& json, const Shortcut& shortcut) {
  json = nlohmann::json{{"keyCode", shortcut.keyCode}, {"keyLabel", shortcut.keyLabel},
                        {"command", shortcut.command}, {"shift", shortcut.shift},
                        {"option", shortcut.option},   {"control", shortcut.control}};
}

void from_json(const nlohmann::json& json, Shortcut& shortcut) {
  if (!json.is_object()) throw nlohmann::json::type_error::create(302, "a shortcut must be an object", &json);
  const auto& label = json.at("keyLabel");
  if (!label.is_string()) throw nlohmann::json::type_error::create(302, "keyLabel must be a string", &label);
  shortcut =
      Shortcut{keyCodeFrom(json.at("keyCode")), label.get<std::string>(),    booleanFrom(json, "command"),
               booleanFrom(json, "shift"),      booleanFrom(json, "option"), booleanFrom(json, "control")};
}

}  // namespace lumacap
