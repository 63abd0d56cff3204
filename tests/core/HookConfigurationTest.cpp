#include "core/HookConfiguration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "core/ScreenshotStore.h"

namespace lumacap {
namespace {

using json = nlohmann::json;

const std::string program = "/opt/tools/lumacap";
const std::string command = "'/opt/tools/lumacap' --claude-hook";
const std::string invalidIndexText =
    "Capture history could not be read safely. Your image files have not been changed.";

json merged(const std::optional<std::string>& existing, bool install,
            const std::string& executable = program) {
  return HookConfiguration::parse(HookConfiguration::merging(existing, executable, install));
}

json ownEntry(const std::string& hookCommand = command) {
  const json hook = {{"type", "command"}, {"command", hookCommand}, {"timeout", 5}};
  return {{"hooks", json::array({hook})}};
}

// The text of a number that parse() keeps as written.
std::string numberText(const json& value) {
  if (!value.is_binary()) return value.dump();
  return std::string(value.get_binary().begin(), value.get_binary().end());
}

json otherHook(const std::string& hookCommand) { return {{"type", "command"}, {"command", hookCommand}}; }

TEST(HookConfigurationTest, withoutSettingsFile) {
  const json installed = merged(std::nullopt, true);
  ASSERT_EQ(installed.size(), 1u);
  ASSERT_EQ(installed["hooks"].size(), 4u);
  for (const auto event : HookConfiguration::events) {
    const json& entries = installed["hooks"][std::string(event)];
    ASSERT_EQ(entries, json::array({ownEntry()})) << event;
    EXPECT_TRUE(entries[0]["hooks"][0]["timeout"].is_number_integer());
    EXPECT_FALSE(entries[0].contains("matcher"));
  }

  const json removed = merged(std::nullopt, false);
  EXPECT_EQ(removed,
            json::parse(R"({"hooks":{"SessionStart":[],"SessionEnd":[],"UserPromptSubmit":[],"Stop":[]}})"));
}

TEST(HookConfigurationTest, writesSortedPrettyJson) {
  const std::string text = HookConfiguration::merging(R"({"zeta":1,"alpha":{"b":2,"a":[]}})", program, true);
  EXPECT_LT(text.find("\"alpha\""), text.find("\"hooks\""));
  EXPECT_LT(text.find("\"hooks\""), text.find("\"zeta\""));
  EXPECT_LT(text.find("\"a\""), text.find("\"b\""));
  EXPECT_LT(text.find("\"SessionEnd\""), text.find("\"SessionStart\""));
  EXPECT_LT(text.find("\"command\""), text.find("\"timeout\""));
  EXPECT_NE(text.find("\n  \"alpha\": {\n    \"a\": [],\n    \"b\": 2\n  },\n"), std::string::npos) << text;
  EXPECT_TRUE(text.ends_with("}\n"));
  EXPECT_TRUE(json::accept(text));
}

TEST(HookConfigurationTest, keepsOtherSettingsAndEvents) {
  const std::string existing = R"json({
    "model": "opus", "permissions": {"allow": ["Bash(ls)"], "deny": []},
    "hooks": {
  "PreToolUse" : [ {"matcher" : "Bash", "hooks" : [ {"type" : "command", "command" : "check"} ]} ],
                 "Stop" : [ {"hooks" : [ {"type" : "command", "command" : "notify-send done"} ]} ]
}
})json";
  const json original = json::parse(existing);
  for (const bool install : {true, false}) {
    const json result = merged(existing, install);
    EXPECT_EQ(result["model"], "opus");
    EXPECT_EQ(result["permissions"], original["permissions"]);
    EXPECT_EQ(result["hooks"]["PreToolUse"], original["hooks"]["PreToolUse"]);
    EXPECT_EQ(result["hooks"]["Stop"][0], original["hooks"]["Stop"][0]);
    EXPECT_EQ(result["hooks"]["Stop"].size(), install ? 2u : 1u);
  }
}

TEST(HookConfigurationTest, entryWithMatcherKeepsItsOtherHooks) {
  const json existing = {
      {"hooks",
       {{"SessionStart",
         {{{"matcher", "startup"}, {"hooks", {otherHook("a"), ownEntry()["hooks"][0], otherHook("b")}}}}}}}};
  const json expectedKept = {{"matcher", "startup"}, {"hooks", {otherHook("a"), otherHook("b")}}};

  const json removed = merged(existing.dump(), false);
  EXPECT_EQ(removed["hooks"]["SessionStart"], json::array({expectedKept}));

  const json installed = merged(existing.dump(), true);
  EXPECT_EQ(installed["hooks"]["SessionStart"], json::array({expectedKept, ownEntry()}));
}

TEST(HookConfigurationTest, dropsOnlyEntriesThatHeldNothingButOwnHooks) {
  const json own = ownEntry()["hooks"][0];
  const json existing = {
      {"hooks",
       {{"Stop",
         {
             {{"hooks", {own}}},                         // dropped
             {{"matcher", "x"}, {"hooks", {own, own}}},  // dropped: only own hooks
             {{"matcher", "no hooks key"}},              // kept
             {{"hooks", json::array()}},                 // kept: was already empty
             {{"hooks", {1, "two"}}},                    // kept: not hook objects
             {{"hooks", "text"}},                        // kept
             {{"hooks", {{{"type", "other"}, {"command", command}, {"timeout", 99}}}}},  // dropped
         }}}}};
  const json expected = json::array({
      {{"matcher", "no hooks key"}},
      {{"hooks", json::array()}},
      {{"hooks", {1, "two"}}},
      {{"hooks", "text"}},
  });
  EXPECT_EQ(merged(existing.dump(), false)["hooks"]["Stop"], expected);

  json withOwn = expected;
  withOwn.push_back(ownEntry());
  EXPECT_EQ(merged(existing.dump(), true)["hooks"]["Stop"], withOwn);
}

TEST(HookConfigurationTest, installingTwiceKeepsOneEntryAtTheEnd) {
  const std::string existing = R"({"hooks":{"SessionEnd":[{"hooks":[{"type":"command","command":"x"}]}]}})";
  const std::string once = HookConfiguration::merging(existing, program, true);
  const std::string twice = HookConfiguration::merging(once, program, true);
  EXPECT_EQ(once, twice);
  const json result = HookConfiguration::parse(twice);
  for (const auto event : HookConfiguration::events) {
    const json& entries = result["hooks"][std::string(event)];
    EXPECT_EQ(entries.back(), ownEntry()) << event;
    EXPECT_EQ(std::count(entries.begin(), entries.end(), ownEntry()), 1) << event;
  }
  EXPECT_EQ(result["hooks"]["SessionEnd"].size(), 2u);
}

TEST(HookConfigurationTest, refusesSettingsOfTheWrongShape) {
  for (const char* existing : {
           R"([])",
           R"("settings")",
           R"(12)",
           R"(null)",
           R"({"hooks": "SessionStart"})",
           R"({"hooks": null})",
           R"({"hooks": []})",
           R"({"hooks": {"SessionStart": {}}})",
           R"({"hooks": {"Stop": [1, 2]}})",
           R"({"hooks": {"UserPromptSubmit": [{}, "x"]}})",
           R"({"hooks": {"SessionEnd": null}})",
       }) {
    for (const bool install : {true, false}) {
      try {
        HookConfiguration::merging(existing, program, install);
        ADD_FAILURE() << "accepted " << existing;
      } catch (const StoreError& error) {
        EXPECT_EQ(error.kind(), StoreError::Kind::invalidIndex);
        EXPECT_EQ(std::string(error.what()), invalidIndexText);
      }
    }
  }
  // Other events are not this program's business, whatever their shape.
  EXPECT_NO_THROW(merged(R"({"hooks": {"PreToolUse": "anything"}})", true));
}

TEST(HookConfigurationTest, refusesTextThatIsNotJsonWithOneLine) {
  const std::string deeplyNested = std::string(2000, '[') + std::string(2000, ']');
  for (const std::string& existing :
       {std::string(""), std::string("{"), std::string("{\"a\": 1} trailing"), std::string("{'a': 1}"),
        std::string("{\"a\": \"\xff\"}"), std::string("{\"a\": 1,}"), std::string("{\"a\": \"\\ud800\"}"),
        std::string("{\"a\": 1e999}"), std::string("{\"a\":\n\n  nul}"), deeplyNested}) {
    try {
      HookConfiguration::merging(existing, program, true);
      ADD_FAILURE() << "accepted " << existing.substr(0, 40);
    } catch (const SettingsParseError& error) {
      const std::string text = error.what();
      EXPECT_TRUE(text.starts_with("settings.json could not be read as JSON: ")) << text;
      EXPECT_EQ(text.find('\n'), std::string::npos) << text;
      EXPECT_EQ(text.find("[json.exception"), std::string::npos) << text;
    }
  }
  const std::string nestedWithinLimit = "{\"a\":" + std::string(500, '[') + std::string(500, ']') + "}";
  EXPECT_NO_THROW(merged(nestedWithinLimit, true));
}

TEST(HookConfigurationTest, quotesPathsForTheShell) {
  EXPECT_EQ(HookConfiguration::hookCommand("/opt/tools/capture"), "'/opt/tools/capture' --claude-hook");
  EXPECT_EQ(HookConfiguration::hookCommand("/tmp/it's/capture"), R"('/tmp/it'\''s/capture' --claude-hook)");
  EXPECT_EQ(HookConfiguration::hookCommand("/a b/$(x)`y`\"z\"/''"),
            R"('/a b/$(x)`y`"z"/'\'''\''' --claude-hook)");

  const std::string path = "/tmp/it's/capture";
  const json installed = merged(std::nullopt, true, path);
  EXPECT_EQ(installed["hooks"]["Stop"][0]["hooks"][0]["command"], R"('/tmp/it'\''s/capture' --claude-hook)");

  // Only the exact quoted form belongs to the program.
  json existing = installed;
  existing["hooks"]["Stop"].push_back({{"hooks", {otherHook("'/tmp/it's/capture' --claude-hook")}}});
  existing["hooks"]["Stop"].push_back({{"hooks", {otherHook(R"('/tmp/it'\''s/capture'  --claude-hook)")}}});
  const json removed = merged(existing.dump(), false, path);
  EXPECT_EQ(removed["hooks"]["Stop"].size(), 2u);
  EXPECT_EQ(removed["hooks"]["SessionStart"], json::array());
}

TEST(HookConfigurationTest, leavesHooksOfAnotherPathAlone) {
  const std::string earlier = HookConfiguration::merging(std::nullopt, "/old/place/lumacap", true);
  const json removed = merged(earlier, false, "/new/place/lumacap");
  EXPECT_EQ(removed, HookConfiguration::parse(earlier));

  const json installed = merged(earlier, true, "/new/place/lumacap");
  for (const auto event : HookConfiguration::events) {
    EXPECT_EQ(installed["hooks"][std::string(event)],
              json::array({ownEntry("'/old/place/lumacap' --claude-hook"),
                           ownEntry("'/new/place/lumacap' --claude-hook")}));
  }
}

TEST(HookConfigurationTest, refusesPathsThatAreNotUtf8) {
  EXPECT_THROW(HookConfiguration::merging(std::nullopt, "/opt/\xff/lumacap", true), HookCommandError);
  EXPECT_EQ(merged(std::nullopt, true, "/opt/çà 📷/lumacap")["hooks"]["Stop"][0]["hooks"][0]["command"],
            "'/opt/çà 📷/lumacap' --claude-hook");
}

TEST(HookConfigurationTest, numbersKeepTheirText) {
  const std::string existing =
      R"({"big": 340282366920938463463374607431768211457, "negative": -98765432109876543210987,)"
      R"( "float": 0.1000000000000000055511151231257827, "exponent": 1E+2, "tiny": 1e-400,)"
      R"( "negativeZero": -0.0, "max": 18446744073709551615, "min": -9223372036854775808, "list": [1.50, 2e0]})";
  const std::string text = HookConfiguration::merging(existing, program, true);
  const json result = HookConfiguration::parse(text);
  for (const auto& [key, number] :
       std::map<std::string, std::string>{{"big", "340282366920938463463374607431768211457"},
                                          {"negative", "-98765432109876543210987"},
                                          {"float", "0.1000000000000000055511151231257827"},
                                          {"exponent", "1E+2"},
                                          {"tiny", "1e-400"},
                                          {"negativeZero", "-0.0"},
                                          {"max", "18446744073709551615"},
                                          {"min", "-9223372036854775808"}}) {
    const std::string member = "\"" + key + "\": " + number;
    EXPECT_TRUE(text.find(member + ",\n") != std::string::npos ||
                text.find(member + "\n") != std::string::npos)
        << key << " in\n"
        << text;
    EXPECT_EQ(numberText(result[key]), number);
  }
  EXPECT_EQ(numberText(result["list"][0]), "1.50");
  EXPECT_EQ(numberText(result["list"][1]), "2e0");
  EXPECT_TRUE(json::accept(text));
  EXPECT_EQ(json::parse(text)["max"].get<uint64_t>(), 18446744073709551615u);
}

TEST(HookConfigurationTest, stringsKeepTheirValue) {
  const std::string existing =
      R"({"escaped": "caf\u00e9 \ud83d\ude00 \u2028 \u0000 \"q\" \\ \/ \t", "raw": "café 😀 ü",)"
      R"( "\u00fcber": "key escaped"})";
  const json result = merged(existing, false);
  EXPECT_EQ(result["escaped"], std::string("café 😀 \u2028 ") + std::string(1, '\0') + " \"q\" \\ / \t");
  EXPECT_EQ(result["raw"], "café 😀 ü");
  EXPECT_EQ(result["über"], "key escaped");
  EXPECT_EQ(json::parse(HookConfiguration::merging(existing, program, false))["escaped"], result["escaped"]);
}

}  // namespace
}  // namespace lumacap
