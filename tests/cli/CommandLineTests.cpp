#include <gtest/gtest.h>

#include <sys/stat.h>
#include <filesystem>
#include <fstream>
#include <functional>

#include "core/AtomicFile.h"
#include "core/HookConfiguration.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

namespace fs = std::filesystem;
using test::lumacapBinary;
using test::ProcessResult;
using test::runProcess;

const char* const helpLine =
    "Lumacap: native Linux capture utility. Options: --install-claude-hooks, --remove-claude-hooks, "
    "--claude-hook\n";
const std::string installedLine =
    "Hooks installed. Review them in Claude Code’s /hooks menu, then restart your sessions. Existing "
    "settings "
    "were preserved and backed up.\n";
const std::string removedLine = "Lumacap hooks removed. Restart Claude Code sessions to apply.\n";

// One run of the executable: what it is given, and what it must answer. An
// error is one line on standard error starting with `errorStart`.
struct Role {
  std::string name;
  std::vector<std::string> options;
  std::string input;
  std::function<void(const test::TempDir&)> prepare;
  int exitStatus;
  std::string output;
  std::string errorStart;
};

std::string settingsIn(const test::TempDir& home) { return (home / ".claude" / "settings.json").string(); }

std::function<void(const test::TempDir&)> settingsHolding(const std::string& text) {
  return [text](const test::TempDir& home) {
    fs::create_directories(home / ".claude");
    std::ofstream(settingsIn(home)) << text;
  };
}

const std::string record = R"({"session_id":"s","cwd":"/tmp","hook_event_name":"SessionStart","extra":1})";

class CommandLineTest : public ::testing::TestWithParam<Role> {
 protected:
  ProcessResult run(std::vector<std::string> options, const std::string& input = {}) {
    options.insert(options.begin(), lumacapBinary());
    return runProcess(options, input,
                      {{"HOME", home.path().string()},
                       {"XDG_DATA_HOME", (home / "data").string()},
                       {"CLAUDE_CONFIG_DIR", ""},
                       {"DISPLAY", ""}},
                      std::chrono::seconds(20));
  }
  test::TempDir home;
};

TEST_P(CommandLineTest, AnswersOnTheRightStreamWithTheRightStatus) {
  const Role& role = GetParam();
  if (role.prepare) role.prepare(home);
  const ProcessResult result = run(role.options, role.input);
  EXPECT_EQ(result.exitStatus, role.exitStatus);
  EXPECT_EQ(result.standardOutput, role.output);
  std::string errorStart = role.errorStart;
  if (const size_t at = errorStart.find("$SETTINGS"); at != std::string::npos) {
    errorStart.replace(at, 9, settingsIn(home));
  }
  if (errorStart.empty()) {
    EXPECT_EQ(result.standardError, "");
  } else {
    EXPECT_TRUE(result.standardError.starts_with(errorStart)) << result.standardError;
    EXPECT_EQ(std::count(result.standardError.begin(), result.standardError.end(), '\n'), 1)
        << result.standardError;
  }
  const fs::path sessions = home / "data" / "Lumacap" / "Sessions";
  EXPECT_TRUE(!fs::exists(sessions) || fs::is_empty(sessions)) << "no agent, no session file";
}

INSTANTIATE_TEST_SUITE_P(
    Roles, CommandLineTest,
    ::testing::Values(
        Role{"Help", {"--help", "ignored-argument"}, "", {}, 0, helpLine, ""},
        Role{"HookWinsOverHelp", {"--claude-hook", "--help"}, "not json", {}, 0, "", "Lumacap hook: "},
        Role{"HookWithoutInput", {"--claude-hook"}, "", {}, 0, "", "Lumacap hook: "},
        Role{"HookTooLarge",
             {"--claude-hook"},
             std::string(1048577, ' '),
             {},
             0,
             "",
             "Lumacap hook: The hook record is too large"},
        Role{"HookWithoutAgent", {"--claude-hook"}, record, {}, 0, "", ""},
        Role{"HookInAFolderOthersCanWrite",
             {"--claude-hook"},
             R"({"session_id":"s","cwd":"/tmp","hook_event_name":"SessionEnd"})",
             [](const test::TempDir& home) {
               fs::create_directories(home / "data" / "Lumacap" / "Sessions");
               ::chmod((home / "data" / "Lumacap" / "Sessions").c_str(), 0777);
             },
             0,
             "",
             "Lumacap hook: "},
        Role{"Install", {"--install-claude-hooks"}, "", {}, 0, installedLine, ""},
        Role{"InstallWinsOverRemove",
             {"--remove-claude-hooks", "--install-claude-hooks"},
             "",
             {},
             0,
             installedLine,
             ""},
        Role{"RemoveWinsOverHelp", {"--remove-claude-hooks", "--help"}, "", {}, 0, removedLine, ""},
        Role{"SettingsOfTheWrongShape",
             {"--remove-claude-hooks"},
             "",
             settingsHolding(R"({"hooks": []})"),
             1,
             "",
             "Lumacap: $SETTINGS: \"hooks\" must be an object\n"},
        Role{"SettingsThatAreAFifo",
             {"--install-claude-hooks"},
             "",
             [](const test::TempDir& home) {
               fs::create_directories(home / ".claude");
               ::mkfifo(settingsIn(home).c_str(), 0600);
             },
             1,
             "",
             "Lumacap: $SETTINGS: not a regular file\n"}),
    [](const ::testing::TestParamInfo<Role>& info) { return info.param.name; });

TEST_F(CommandLineTest, InstallsTheRunningExecutablesPath) {
  ASSERT_EQ(run({"--install-claude-hooks"}).exitStatus, 0);
  const auto hooks = HookConfiguration::parse(readWholeFile(settingsIn(home)))["hooks"];
  EXPECT_EQ(hooks["Stop"][0]["hooks"][0]["command"],
            HookConfiguration::hookCommand(fs::canonical(lumacapBinary())));
}

TEST_F(CommandLineTest, HookDoesNotWaitForStandardInputToClose) {
  // The writer sends a whole record and then keeps the pipe open for 20 s.
  const std::string script =
      "exec 3< <(printf '%s' '{\"session_id\":\"s\",\"cwd\":\"/\",\"hook_event_name\":\"Stop\"}'; exec sleep "
      "20 2>/dev/null); writer=$!; "
      "start=$(date +%s%N); \"$0\" --claude-hook <&3; echo $(( ($(date +%s%N) - start) / 1000000 )); kill "
      "$writer";
  const ProcessResult result = runProcess({"bash", "-c", script, lumacapBinary()}, {},
                                          {{"XDG_DATA_HOME", (home / "data").string()}, {"DISPLAY", ""}});
  EXPECT_EQ(result.standardError, "");
  EXPECT_LT(std::stoi(result.standardOutput), 2000) << "milliseconds";
}

// The executable finds its application library beside itself (the build
// tree) or under ../lib/lumacap (an installation), whatever the working folder.
TEST(ApplicationLoaderTest, FindsTheLibraryWhenInstalled) {
  test::TempDir prefix;
  const fs::path library = fs::path(lumacapBinary()).parent_path() / "liblumacap-app.so";
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "lib" / "lumacap");
  fs::copy_file(lumacapBinary(), prefix / "bin" / "lumacap");
  fs::copy_file(library, prefix / "lib" / "lumacap" / "liblumacap-app.so");

  // Without a display the library itself answers, which shows it was loaded.
  const auto loaded = runProcess({"bash", "-c", "cd / && exec \"$0\"", (prefix / "bin" / "lumacap").string()},
                                 {}, {{"DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}});
  EXPECT_EQ(loaded.exitStatus, 1);
  EXPECT_EQ(loaded.standardOutput, "");
  EXPECT_EQ(loaded.standardError, "Lumacap: no X11 display to run on ($DISPLAY is not set).\n");

  fs::remove(prefix / "lib" / "lumacap" / "liblumacap-app.so");
  const auto missing = runProcess({(prefix / "bin" / "lumacap").string()}, {}, {{"DISPLAY", ""}});
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_TRUE(missing.standardError.starts_with("Lumacap: liblumacap-app.so was not found"))
      << missing.standardError;
  EXPECT_EQ(std::count(missing.standardError.begin(), missing.standardError.end(), '\n'), 1);
}

}  // namespace
}  // namespace lumacap
