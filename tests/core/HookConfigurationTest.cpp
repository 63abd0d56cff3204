// The transformation's general promises (other settings keep their values,
// numbers their text, one own hook per event, a second run changes nothing)
// are checked by fuzz_hook_configuration on its corpus, which ctest replays.
#include "core/HookConfiguration.h"

#include <gtest/gtest.h>

#include <string>

#include "core/AtomicFile.h"
#include "core/McpConfiguration.h"

namespace lumacap {
namespace {

using json = nlohmann::json;

const std::string program = "/opt/tools/lumacap";

json merged(const std::optional<std::string>& existing, bool install,
            const std::string& executable = program) {
  return HookConfiguration::parse(HookConfiguration::merging(existing, executable, install).value());
}

json ownEntry(const std::string& path = program) {
  const json hook = {{"type", "command"}, {"command", HookConfiguration::hookCommand(path)}, {"timeout", 5}};
  return {{"hooks", json::array({hook})}};
}

json otherHook(const std::string& command) { return {{"type", "command"}, {"command", command}}; }

TEST(HookConfigurationTest, AddsOneEntryToTheEndOfEachEventAndTakesOnlyItsOwnHooksOut) {
  const json installed = merged(std::nullopt, true);
  for (const auto event : HookConfiguration::events) {
    EXPECT_EQ(installed["hooks"][std::string(event)], json::array({ownEntry()})) << event;
  }
  EXPECT_EQ(HookConfiguration::merging(std::nullopt, program, false), std::nullopt) << "nothing to remove";

  const json own = ownEntry()["hooks"][0];
  const json existing = {
      {"hooks",
       {{"SessionStart", {{{"matcher", "startup"}, {"hooks", {otherHook("a"), own, otherHook("b")}}}}},
        {"Stop",
         {
             {{"hooks", {own}}},                         // dropped
             {{"matcher", "x"}, {"hooks", {own, own}}},  // dropped: only own hooks
             {{"matcher", "no hooks key"}},              // kept
             {{"hooks", json::array()}},                 // kept: was already empty
             {{"hooks", {1, "two"}}},                    // kept: not hook objects
         }}}}};
  const json keptStart = {{"matcher", "startup"}, {"hooks", {otherHook("a"), otherHook("b")}}};
  const json keptStop =
      json::array({{{"matcher", "no hooks key"}}, {{"hooks", json::array()}}, {{"hooks", {1, "two"}}}});
  const json removed = merged(existing.dump(), false);
  EXPECT_EQ(removed["hooks"]["SessionStart"], json::array({keptStart}));
  EXPECT_EQ(removed["hooks"]["Stop"], keptStop);
  EXPECT_FALSE(removed["hooks"].contains("SessionEnd")) << "absent events stay absent";
  const json reinstalled = merged(existing.dump(), true);
  EXPECT_EQ(reinstalled["hooks"]["SessionStart"], json::array({keptStart, ownEntry()}));
  EXPECT_EQ(reinstalled["hooks"]["Stop"].back(), ownEntry());
  EXPECT_EQ(reinstalled["hooks"]["Stop"].size(), keptStop.size() + 1);
}

TEST(HookConfigurationTest, OnlyTheExactQuotedPathIsItsOwn) {
  EXPECT_EQ(HookConfiguration::hookCommand("/tmp/it's/capture"), R"('/tmp/it'\''s/capture' --claude-hook)");
  EXPECT_EQ(HookConfiguration::hookCommand("/a b/$(x)`y`\"z\"/''"),
            R"('/a b/$(x)`y`"z"/'\'''\''' --claude-hook)");
  const std::string path = "/tmp/it's/capture";
  json existing = merged(std::nullopt, true, path);
  existing["hooks"]["Stop"].push_back({{"hooks", {otherHook("'/tmp/it's/capture' --claude-hook")}}});
  existing["hooks"]["Stop"].push_back({{"hooks", {otherHook(R"('/tmp/it'\''s/capture'  --claude-hook)")}}});
  EXPECT_EQ(merged(existing.dump(), false, path)["hooks"]["Stop"].size(), 2u);

  // Hooks of the program at another path are another program's.
  const std::string earlier = HookConfiguration::merging(std::nullopt, "/old/lumacap", true).value();
  EXPECT_EQ(HookConfiguration::merging(earlier, "/new/lumacap", false), std::nullopt);
  EXPECT_EQ(merged(earlier, true, "/new/lumacap")["hooks"]["Stop"],
            json::array({ownEntry("/old/lumacap"), ownEntry("/new/lumacap")}));

  EXPECT_THROW(HookConfiguration::merging(std::nullopt, "/opt/\xff/lumacap", true), HookCommandError);
  EXPECT_EQ(merged(std::nullopt, true, "/opt/çà 📷/lumacap")["hooks"]["Stop"][0],
            ownEntry("/opt/çà 📷/lumacap"));
}

// Installing and removing again gives back the user's file as they wrote
// it: keys in their order, numbers digit for digit, no event left empty.
TEST(HookConfigurationTest, InstallingThenRemovingGivesBackTheFile) {
  const std::string original = R"({
  "model": "opus \" 4",
  "numbers": [
    -0,
    0,
    -0.0,
    1E2,
    -0e1
  ],
  "hooks": {
    "Notification": [],
    "Stop": [
      {
        "matcher": "x",
        "hooks": []
      }
    ]
  },
  "alpha": {}
}
)";
  const std::string installed = HookConfiguration::merging(original, program, true).value();
  EXPECT_LT(installed.find("\"model\""), installed.find("\"hooks\"")) << installed;
  EXPECT_EQ(HookConfiguration::merging(installed, program, false), original);
  const std::string bare = "{\n  \"model\": \"opus\"\n}\n";
  EXPECT_EQ(
      HookConfiguration::merging(HookConfiguration::merging(bare, program, true).value(), program, false),
      bare);
}

// What each agent reads, pinned: Codex trusts a hook by a hash of its
// definition, so Codex's entry and line must never change.
TEST(HookConfigurationTest, EachAgentGetsItsShapeAndCodexTheSameLineEveryTime) {
  const auto installed = [](std::string_view key, const std::optional<std::string>& existing = std::nullopt) {
    return json(HookConfiguration::parse(
        HookConfiguration::merging(existing, program, true, *CodingAgent::find(key), "/data/Captures")
            .value()));
  };
  EXPECT_EQ(installed("codex")["hooks"]["SessionEnd"], json::parse(R"([{"hooks": [{"type": "command",
      "command": "'/opt/tools/lumacap' --agent-hook=codex", "timeout": 3}]}])"));
  EXPECT_EQ(installed("gemini")["hooks"]["BeforeAgent"], json::parse(R"([{"matcher": "*", "hooks": [{"type":
      "command", "command": "'/opt/tools/lumacap' --agent-hook=gemini", "name": "lumacap", "timeout": 5000}]}])"));
  const json copilot =
      installed("copilot", R"({"hooks": {"sessionEnd": [{"type": "command", "bash": "x"}]}})");
  EXPECT_EQ(copilot["hooks"]["sessionEnd"],
            json::parse(R"([{"type": "command", "bash": "x"}, {"type": "command",
      "bash": "'/opt/tools/lumacap' --agent-hook=copilot:sessionEnd", "timeoutSec": 5}])"));
  EXPECT_FALSE(copilot.contains("context")) << "only Gemini CLI and Qwen Code need a folder to read";

  // Gemini CLI may read the captures; a folder the user listed stays.
  const std::string listed =
      "{\n  \"context\": {\n    \"includeDirectories\": [\n      \"/mine\"\n    ]\n  }\n}\n";
  const CodingAgent& gemini = *CodingAgent::find("gemini");
  const std::string withHooks =
      HookConfiguration::merging(listed, program, true, gemini, "/data/Captures").value();
  EXPECT_EQ(json(HookConfiguration::parse(withHooks))["context"]["includeDirectories"],
            json::array({"/mine", "/data/Captures"}));
  EXPECT_EQ(HookConfiguration::merging(withHooks, program, false, gemini, "/data/Captures"), listed);
}

// The message says what is wrong, on one line, after the file's name.
TEST(HookConfigurationTest, RefusesWhatItCannotEdit) {
  const std::string deeplyNested = std::string(2000, '[') + std::string(2000, ']');
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"", "not valid JSON: "},
      {"{\"a\": 1} trailing", "not valid JSON: "},
      {std::string("{\"a\":1}\0{\"evil\":", 16), "not valid JSON: a NUL byte at byte 8"},
      {"{\"a\": \"\xff\"}", "not valid JSON: "},
      {"{\"a\": \"\\ud800\"}", "not valid JSON: "},
      {"{\"a\": 1e999}", "not valid JSON: "},
      {"{\"a\":\n\n  nul}", "not valid JSON: "},
      {deeplyNested, "nested more than 512 levels deep"},
      {"12", "the top level must be an object"},
      {R"({"hooks": null})", R"("hooks" must be an object)"},
      {R"({"hooks": []})", R"("hooks" must be an object)"},
      {R"({"hooks": {"SessionEnd": null}})", R"("hooks" → "SessionEnd" must be an array of objects)"},
      {R"({"hooks": {"UserPromptSubmit": [{}, "x"]}})", R"("UserPromptSubmit" must be an array of objects)"},
  };
  for (const auto& [existing, problem] : refused) {
    try {
      HookConfiguration::merging(existing, program, true);
      ADD_FAILURE() << "accepted " << existing.substr(0, 40);
    } catch (const FileError& error) {
      EXPECT_TRUE(std::string(error.what()).starts_with("settings.json: ")) << error.what();
      EXPECT_NE(error.problem().find(problem), std::string::npos) << error.what();
      EXPECT_EQ(std::string(error.what()).find_first_of("\n"), std::string::npos) << error.what();
      EXPECT_EQ(error.problem().find("json.exception"), std::string::npos) << error.what();
    }
  }
  EXPECT_TRUE(merged("{\"a\":" + std::string(500, '[') + std::string(500, ']') + "}", true).contains("a"));
}

// Each agent's MCP entry, and Codex's TOML edited in place: install then
// remove gives back every byte around Lumacap's own table.
TEST(McpConfigurationTest, AddsTheServerInEachAgentsShapeAndTakesOnlyItOut) {
  const auto merging = [](const std::optional<std::string>& existing, bool install, std::string_view agent) {
    return McpConfiguration::merging(existing, program, install, *CodingAgent::find(agent));
  };
  const std::string user =
      "{\n  \"mcpServers\": {\n    \"other\": {\n      \"command\": \"x\"\n    }\n  },\n"
      "  \"theme\": \"dark\"\n}\n";
  const std::pair<std::string_view, json> entries[] = {
      {"claude", {{"type", "stdio"}, {"command", program}, {"args", {"mcp"}}, {"env", json::object()}}},
      {"gemini", {{"command", program}, {"args", {"mcp"}}}},
      {"copilot", {{"type", "local"}, {"command", program}, {"args", {"mcp"}}, {"tools", {"*"}}}}};
  for (const auto& [agent, entry] : entries) {
    const std::string installed = merging(user, true, agent).value();
    EXPECT_EQ(json::parse(installed)["mcpServers"]["lumacap"], entry) << agent;
    EXPECT_EQ(merging(installed, true, agent), std::nullopt) << agent;
    EXPECT_EQ(merging(installed, false, agent), user) << agent;
    EXPECT_EQ(merging(R"({"mcpServers": {"lumacap": {}}})", false, agent), "{}\n") << agent;
  }
  const std::string toml =
      "# mine\nmodel = \"o3\"\n[profiles.fast]\nnote = '''\n[mcp_servers.lumacap]\n'''\n"
      "list = [\n  [1, \"]\"], # ]\n]\n";
  const std::string table = "[mcp_servers.lumacap]\ncommand = \"/opt/tools/lumacap\"\nargs = [\"mcp\"]\n";
  const std::string installed = merging(toml, true, "codex").value();
  EXPECT_EQ(installed, toml + "\n" + table);
  EXPECT_EQ(merging(installed, true, "codex"), std::nullopt);
  EXPECT_EQ(merging(installed, false, "codex"), toml);
  EXPECT_EQ(merging(toml, false, "codex"), std::nullopt);
  // An older path is replaced where it stands; sub-tables go with a removal.
  const std::string moved =
      "[mcp_servers.lumacap]\ncommand = \"/old\"\n\n[mcp_servers.lumacap.env]\nA = \"1\"\n\n[x]\n";
  EXPECT_EQ(merging(moved, true, "codex"), table + "\n[mcp_servers.lumacap.env]\nA = \"1\"\n\n[x]\n");
  EXPECT_EQ(merging(moved, false, "codex"), "\n[x]\n");
  EXPECT_EQ(McpConfiguration::merging(std::nullopt, "/a\"b\\c", true, *CodingAgent::find("codex")),
            "[mcp_servers.lumacap]\ncommand = \"/a\\\"b\\\\c\"\nargs = [\"mcp\"]\n");
  for (const std::string& refused : std::vector<std::string>{
           "a = \"open\n", "a = [1,\n", "[t\n", "mcp_servers.lumacap.command = \"x\"\n",
           "[mcp_servers]\nlumacap = { command = \"x\" }\n", "[[mcp_servers.lumacap]]\n", table + table,
           std::string("a = 1\0", 6)}) {
    try {
      merging(refused, true, "codex");
      ADD_FAILURE() << "accepted " << refused;
    } catch (const FileError& error) {
      EXPECT_TRUE(std::string(error.what()).starts_with("config.toml: ")) << error.what();
    }
  }
}

}  // namespace
}  // namespace lumacap
