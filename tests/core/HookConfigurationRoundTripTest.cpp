#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/HookConfiguration.h"

namespace lumacap {
namespace {

using json = nlohmann::json;

const std::string program = "/usr/local/bin/lumacap";

// Settings files as people keep them: several tools' hooks, permissions,
// environment, status line, plus values that JSON libraries easily change.
const std::vector<std::string> settingsFiles = {
    R"json({
  "$schema": "https://json.schemastore.org/claude-code-settings.json",
  "model": "claude-sonnet-4-5",
  "permissions": {
    "allow": ["Bash(npm run lint)", "Bash(npm run test:*)", "Read(~/.zshrc)"],
    "deny": ["Read(./.env)", "Read(./secrets/**)"],
    "additionalDirectories": ["../docs/"],
    "defaultMode": "acceptEdits"
  },
  "env": {"CLAUDE_CODE_ENABLE_TELEMETRY": "1", "OTEL_METRICS_EXPORTER": "otlp", "EMPTY": ""},
  "cleanupPeriodDays": 30,
  "includeCoAuthoredBy": false,
  "statusLine": {"type": "command", "command": "~/.claude/statusline.sh", "padding": 0},
  "hooks": {
    "PreToolUse": [
      {"matcher": "Bash", "hooks": [{"type": "command", "command": "/usr/local/bin/check-bash.sh", "timeout": 60}]},
      {"matcher": "Edit|MultiEdit|Write", "hooks": [{"type": "command", "command": "prettier --write \"$FILE\""}]}
    ],
    "PostToolUse": [{"matcher": "Write", "hooks": [{"type": "command", "command": "git add -N ."}]}],
    "Stop": [{"hooks": [{"type": "command", "command": "notify-send 'Claude is done'"}]}],
    "SessionStart": [{"matcher": "startup", "hooks": [{"type": "command", "command": "echo hi", "timeout": 1.5}]}]
  }
})json",
    R"json({
  "hooks": {
    "SessionStart": [
      {"matcher": "resume", "hooks": []},
      {"hooks": [{"type": "command", "command": "'/old/lumacap' --claude-hook", "timeout": 5}]},
      {"description": "no hooks key at all"}
    ],
    "UserPromptSubmit": [],
    "Notification": [{"hooks": [{"type": "command", "command": "say \u0022ready\u0022"}]}]
  },
  "feedbackSurveyState": {"lastShownTime": 1754089200123},
  "numbers": [0, -0.0, 1.0, 1e2, 1E-7, 2.5e+10, 123456789012345678901234567890, -98765432109876543210,
              18446744073709551615, 18446744073709551616, 340282366920938463463374607431768211457,
              9007199254740993, 0.30000000000000004, 3.141592653589793238462643383279],
  "strings": {
    "emoji": "📸 capture 👩‍💻",
    "escapedEmoji": "\ud83d\udcf8 \uD83D\uDC69\u200D\uD83D\uDCBB",
    "accents": "Crème brûlée, naïve, Ærøskøbing",
    "escapedAccents": "Cr\u00e8me br\u00fbl\u00e9e",
    "cjk": "截图 スクリーンショット 스크린샷",
    "controls": "tab\there\nnewline\r\u0001\u001f\u007f",
    "quotes": "\"double\" 'single' back\\slash \/slash",
    "lineSeparators": "\u2028\u2029",
    "nul": "a\u0000b"
  },
  "nested": {"a": {"b": {"c": [[[], {}], [{"d": null, "e": true, "f": false}]]}}, "": "empty key"}
})json",
    R"json({"apiKeyHelper": "/bin/generate_temp_api_key.sh", "forceLoginMethod": "claudeai",
  "enabledPlugins": {"formatter@acme": true},
  "hooks": {
    "Stop": [
      {"hooks": [{"type": "command", "command": "afplay done.aiff"},
                 {"type": "command", "command": "'/usr/local/bin/lumacap' --claude-hook", "timeout": 5}]},
      {"hooks": [{"type": "command", "command": "'/usr/local/bin/lumacap' --claude-hook", "timeout": 5}]}
    ],
    "SessionEnd": [{"hooks": [{"type": "command", "command": "'/usr/local/bin/lumacap' --claude-hook"}],
                    "matcher": "clear"}],
    "PreCompact": {"note": "not this program's event, any shape"}
  },
  "sandbox": {"enabled": true, "network": {"allowUnixSockets": ["/var/run/docker.sock"], "ports": [8080, 65535]}}
})json",
    R"json({})json",
    R"json({"hooks": {}})json",
};

// What removal must leave: everything as it was, except that the four events
// exist and hold no hook of this program.
json withoutProgram(json settings) {
  const std::string command = HookConfiguration::hookCommand(program);
  json& hooks = settings["hooks"];
  if (hooks.is_null()) hooks = json::object();
  for (const auto name : HookConfiguration::events) {
    const std::string event(name);
    json kept = json::array();
    for (json entry : hooks.value(event, json::array())) {
      if (entry.contains("hooks") && entry["hooks"].is_array() && !entry["hooks"].empty()) {
        json& inner = entry["hooks"];
        inner.erase(
            std::remove_if(inner.begin(), inner.end(),
                           [&](const json& hook) { return hook.value("command", json()) == command; }),
            inner.end());
        if (inner.empty()) continue;
      }
      kept.push_back(entry);
    }
    hooks[event] = kept;
  }
  return settings;
}

size_t programEntries(const json& entries) {
  const std::string command = HookConfiguration::hookCommand(program);
  size_t count = 0;
  for (const json& entry : entries) {
    for (const json& hook : entry.value("hooks", json::array()))
      count += hook.value("command", json()) == command;
  }
  return count;
}

TEST(HookConfigurationRoundTripTest, installThenRemoveGivesBackEverySetting) {
  for (size_t index = 0; index < settingsFiles.size(); ++index) {
    SCOPED_TRACE("settings file " + std::to_string(index));
    const std::string& original = settingsFiles[index];
    const std::string installed = HookConfiguration::merging(original, program, true);
    const std::string removed = HookConfiguration::merging(installed, program, false);

    // Compared as parsed trees whose numbers are their literal texts.
    const json before = HookConfiguration::parse(original);
    EXPECT_EQ(HookConfiguration::parse(removed), withoutProgram(before));

    json installedTree = HookConfiguration::parse(installed);
    for (const auto event : HookConfiguration::events) {
      EXPECT_EQ(programEntries(installedTree["hooks"][std::string(event)]), 1u) << event;
    }
    installedTree.erase("hooks");
    json beforeWithoutHooks = before;
    beforeWithoutHooks.erase("hooks");
    EXPECT_EQ(installedTree, beforeWithoutHooks);

    // A standard reader sees the same values as before, too.
    EXPECT_EQ(json::parse(removed).value("strings", json()), json::parse(original).value("strings", json()));

    const std::string twice = HookConfiguration::merging(installed, program, true);
    EXPECT_EQ(twice, installed);
  }
}

TEST(HookConfigurationRoundTripTest, bigNumbersComeBackDigitForDigit) {
  const std::string removed =
      HookConfiguration::merging(HookConfiguration::merging(settingsFiles[1], program, true), program, false);
  for (const char* number :
       {"123456789012345678901234567890", "-98765432109876543210", "18446744073709551615",
        "18446744073709551616", "340282366920938463463374607431768211457", "9007199254740993",
        "0.30000000000000004", "3.141592653589793238462643383279", "1754089200123", "-0.0", "1.0", "1e2",
        "1E-7", "2.5e+10"}) {
    const std::string line = " " + std::string(number);
    EXPECT_TRUE(removed.find(line + ",\n") != std::string::npos ||
                removed.find(line + "\n") != std::string::npos)
        << number << "\n"
        << removed;
  }
}

}  // namespace
}  // namespace lumacap
