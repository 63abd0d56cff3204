#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <tuple>

#include "core/Shortcut.h"

namespace lumacap {
namespace {

const std::string typingMessage = "Include Super, Ctrl, or Alt so normal typing is not intercepted.";
const std::string screenshotMessage =
    "Linux desktops use Print (alone or with Shift, Ctrl or Alt) and Shift+Super+S for screenshots. Choose "
    "another combination to avoid triggering two captures.";

// The stored modifier mask has Carbon's bits; the label lists Ctrl, Alt,
// Shift, Super in that order.
TEST(Shortcut, ModifierMaskAndLabel) {
  const std::tuple<Shortcut, uint32_t, std::string> cases[] = {
      {Shortcut{5, "G", false, false, false, false}, 0, "G"},
      {Shortcut::initial(), 768, "Shift+Super+2"},
      {Shortcut{1, "S", true, false, true, true}, 6400, "Ctrl+Alt+Super+S"},
      {Shortcut{5, "G", false, true, true, false}, 2560, "Alt+Shift+G"},
      {Shortcut{1, "S", true, true, true, true}, 6912, "Ctrl+Alt+Shift+Super+S"},
  };
  for (const auto& [shortcut, mask, label] : cases) {
    EXPECT_EQ(shortcut.modifiers(), mask) << label;
    EXPECT_EQ(shortcut.label(), label);
  }
}

TEST(Shortcut, ValidationRefusesPlainTypingAndTheDesktopsScreenshotKeys) {
  constexpr uint32_t print = 105;
  const std::pair<Shortcut, std::optional<std::string>> cases[] = {
      {Shortcut{print, "Print", false, false, false, false}, screenshotMessage},
      {Shortcut{print, "Print", false, true, false, false}, screenshotMessage},
      {Shortcut{print, "Print", false, false, false, true}, screenshotMessage},
      {Shortcut{print, "Print", true, false, false, false}, std::nullopt},
      {Shortcut{1, "S", true, true, false, false}, screenshotMessage},
      {Shortcut{1, "S", true, true, true, false}, std::nullopt},
      {Shortcut{20, "3", true, true, false, false}, std::nullopt},  // Shift+Super+3–6 are free on Linux
      {Shortcut{21, "4", true, true, false, false}, std::nullopt},
      {Shortcut{1, "S", false, false, true, false}, std::nullopt},
      {Shortcut{1, "S", false, true, false, false}, typingMessage},
      {Shortcut{1, "S", false, false, false, false}, typingMessage},
  };
  for (const auto& [shortcut, message] : cases)
    EXPECT_EQ(shortcut.validationMessage(), message) << shortcut.label();
}

TEST(Shortcut, JsonFormHasTheSixFields) {
  auto json = nlohmann::json::parse(Shortcut::initial().encoded());
  EXPECT_EQ(
      json,
      nlohmann::json::parse(
          R"({"keyCode":19,"keyLabel":"2","command":true,"shift":true,"option":false,"control":false})"));
  const Shortcut custom{4294967295u, "⌫ key", false, true, true, true};
  EXPECT_EQ(Shortcut::decoded(custom.encoded()), custom);
}

TEST(Shortcut, DecodingIgnoresExtraKeysAndKeyOrder) {
  auto decoded = Shortcut::decoded(
      R"({"control":true,"option":false,"shift":false,"command":false,"keyLabel":"S","keyCode":1,"extra":[1]})");
  EXPECT_EQ(decoded, Shortcut(1, "S", false, false, false, true));
  EXPECT_EQ(
      Shortcut::decoded(
          R"({"keyCode":19.0,"keyLabel":"2","command":true,"shift":true,"option":false,"control":false})"),
      Shortcut::initial());
}

TEST(Shortcut, DecodingRefusesIncompleteOrWronglyTypedJson) {
  const char* refused[] = {
      R"({"keyCode":1,"keyLabel":"S","command":true,"shift":false,"option":false})",
      R"({"keyCode":"1","keyLabel":"S","command":true,"shift":false,"option":false,"control":false})",
      R"({"keyCode":-1,"keyLabel":"S","command":true,"shift":false,"option":false,"control":false})",
      R"({"keyCode":1.5,"keyLabel":"S","command":true,"shift":false,"option":false,"control":false})",
      R"({"keyCode":4294967296,"keyLabel":"S","command":true,"shift":false,"option":false,"control":false})",
      R"({"keyCode":1,"keyLabel":5,"command":true,"shift":false,"option":false,"control":false})",
      R"({"keyCode":1,"keyLabel":"S","command":1,"shift":false,"option":false,"control":false})",
      R"({"keyCode":1,"keyLabel":"S","command":true,"shift":false,"option":null,"control":false})",
      R"([19,"2",true,true,false,false])",
      "",
      "not json",
      "{\"keyCode\":1,\"keyLabel\":\"\xff\xfe\",\"command\":true,\"shift\":false,\"option\":false,"
      "\"control\":false}",
  };
  for (const char* bytes : refused) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(Shortcut::decoded(bytes), std::nullopt);
  }
}

}  // namespace
}  // namespace lumacap
