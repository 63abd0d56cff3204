#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <tuple>

#include "core/Shortcut.h"

namespace lumacap {
namespace {

const std::string typingMessage = "Include Super, Ctrl, or Alt so normal typing is not intercepted.";
const std::string screenshotMessage =
    "Shift+Super+3–6 often belong to other screenshot tools. Choose another key to avoid triggering two "
    "captures.";

Shortcut withKey(uint32_t keyCode, const std::string& label, bool command, bool shift, bool option,
                 bool control) {
  return Shortcut{keyCode, label, command, shift, option, control};
}

// The stored modifier mask has Carbon's bits; the label lists Ctrl, Alt,
// Shift, Super in that order.
TEST(Shortcut, ModifierMaskAndLabel) {
  const std::tuple<Shortcut, uint32_t, std::string> cases[] = {
      {withKey(5, "G", false, false, false, false), 0, "G"},
      {Shortcut::initial(), 768, "Shift+Super+2"},
      {withKey(1, "S", true, false, true, true), 6400, "Ctrl+Alt+Super+S"},
      {withKey(5, "G", false, true, true, false), 2560, "Alt+Shift+G"},
      {withKey(1, "S", true, true, true, true), 6912, "Ctrl+Alt+Shift+Super+S"},
  };
  for (const auto& [shortcut, mask, label] : cases) {
    EXPECT_EQ(shortcut.modifiers(), mask) << label;
    EXPECT_EQ(shortcut.label(), label);
  }
}

TEST(Shortcut, SystemScreenshotKeysAreRefusedWithCommandShift) {
  const std::pair<uint32_t, const char*> screenshotKeys[] = {{20, "3"}, {21, "4"}, {23, "5"}, {22, "6"}};
  for (auto [code, label] : screenshotKeys) {
    SCOPED_TRACE(label);
    EXPECT_EQ(withKey(code, label, true, true, false, false).validationMessage(), screenshotMessage);
    EXPECT_EQ(withKey(code, label, true, true, true, false).validationMessage(), screenshotMessage);
    EXPECT_EQ(withKey(code, label, true, true, false, true).validationMessage(), screenshotMessage);
    EXPECT_EQ(withKey(code, label, true, false, false, false).validationMessage(), std::nullopt);
  }
  // "7" (26) and "1" (18) sit next to them but are free.
  EXPECT_EQ(withKey(26, "7", true, true, false, false).validationMessage(), std::nullopt);
  EXPECT_EQ(withKey(18, "1", true, true, false, false).validationMessage(), std::nullopt);
}

TEST(Shortcut, WithoutCommandNeedsOptionOrControl) {
  EXPECT_EQ(withKey(1, "S", false, false, true, false).validationMessage(), std::nullopt);
  EXPECT_EQ(withKey(1, "S", false, false, false, true).validationMessage(), std::nullopt);
  EXPECT_EQ(withKey(1, "S", false, true, false, false).validationMessage(), typingMessage);
  EXPECT_EQ(withKey(1, "S", false, false, false, false).validationMessage(), typingMessage);
  // Without Command the screenshot keys do not clash.
  EXPECT_EQ(withKey(21, "4", false, true, true, false).validationMessage(), std::nullopt);
}

TEST(Shortcut, JsonFormHasTheSixFields) {
  auto json = nlohmann::json::parse(Shortcut::initial().encoded());
  EXPECT_EQ(
      json,
      nlohmann::json::parse(
          R"({"keyCode":19,"keyLabel":"2","command":true,"shift":true,"option":false,"control":false})"));
  Shortcut custom = withKey(4294967295u, "⌫ key", false, true, true, true);
  EXPECT_EQ(Shortcut::decoded(custom.encoded()), custom);
}

TEST(Shortcut, DecodingIgnoresExtraKeysAndKeyOrder) {
  auto decoded = Shortcut::decoded(
      R"({"control":true,"option":false,"shift":false,"command":false,"keyLabel":"S","keyCode":1,"extra":[1]})");
  EXPECT_EQ(decoded, withKey(1, "S", false, false, false, true));
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

TEST(Shortcut, RestoringFallsBackToDefault) {
  const Shortcut optionS = withKey(1, "S", false, false, true, false);
  EXPECT_EQ(Shortcut::restored(optionS.encoded()), optionS);
  EXPECT_EQ(Shortcut::restored(std::nullopt), Shortcut::initial());
  EXPECT_EQ(Shortcut::restored(std::string("{\"keyCode\":1}")), Shortcut::initial());
  EXPECT_EQ(Shortcut::restored(std::string("\xc3\x28")), Shortcut::initial());
  // Stored values that decode but no longer validate are replaced too.
  EXPECT_EQ(Shortcut::restored(withKey(21, "4", true, true, false, false).encoded()), Shortcut::initial());
  EXPECT_EQ(Shortcut::restored(withKey(1, "S", false, true, false, false).encoded()), Shortcut::initial());
}

}  // namespace
}  // namespace lumacap
