#include <gtest/gtest.h>

#include <filesystem>

#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using test::lumacapBinary;
using test::ProcessResult;
using test::runProcess;
using test::TempDir;

const char* const helpLine =
    "Lumacap: native Linux capture utility. Options: --install-claude-hooks, --remove-claude-hooks, "
    "--claude-hook\n";

class CommandLineTest : public ::testing::Test {
 protected:
  ProcessResult run(std::vector<std::string> options, const std::string& input = {}) {
    options.insert(options.begin(), lumacapBinary());
    return runProcess(options, input,
                      {{"HOME", home.path().string()},
                       {"XDG_DATA_HOME", (home / "data").string()},
                       {"CLAUDE_CONFIG_DIR", ""},
                       {"DISPLAY", ""}});
  }
  TempDir home;
};

TEST_F(CommandLineTest, HelpPrintsOneLine) {
  const ProcessResult result = run({"--help", "ignored-argument"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.standardOutput, helpLine);
  EXPECT_EQ(result.standardError, "");
}

TEST_F(CommandLineTest, HookRoleWinsAndNeverWritesToStandardOutput) {
  for (const std::string input :
       {"", "not json", "[1]", R"({"session_id":"","cwd":"/","hook_event_name":"Stop"})",
        R"({"session_id":"a","cwd":"/","hook_event_name":"sessionend"})"}) {
    const ProcessResult result = run({"--claude-hook", "--help"}, input);
    EXPECT_EQ(result.exitStatus, 0) << input;
    EXPECT_EQ(result.standardOutput, "") << input;
    EXPECT_TRUE(result.standardError.starts_with("Lumacap hook: ")) << result.standardError;
    EXPECT_EQ(std::count(result.standardError.begin(), result.standardError.end(), '\n'), 1)
        << result.standardError;
  }
  const ProcessResult tooLarge = run({"--claude-hook"}, std::string(1048577, ' '));
  EXPECT_EQ(tooLarge.exitStatus, 0);
  EXPECT_NE(tooLarge.standardError.find("too large"), std::string::npos) << tooLarge.standardError;
}

TEST_F(CommandLineTest, HookWithoutAgentAncestorSucceedsSilently) {
  const ProcessResult result =
      run({"--claude-hook"}, R"({"session_id":"s","cwd":"/tmp","hook_event_name":"SessionStart","extra":1})");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.standardOutput, "");
  EXPECT_EQ(result.standardError, "");
  EXPECT_FALSE(std::filesystem::exists(home / "data" / "Lumacap" / "Sessions"));
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

}  // namespace
}  // namespace lumacap
