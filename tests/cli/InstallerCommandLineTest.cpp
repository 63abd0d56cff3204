#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "core/AtomicFile.h"
#include "core/HookConfiguration.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using test::lumacapBinary;
using test::runProcess;

const std::string installedLine =
    "Hooks installed. Review them in Claude Code’s /hooks menu, then restart your sessions. Existing "
    "settings were "
    "preserved and backed up.\n";
const std::string removedLine = "Lumacap hooks removed. Restart Claude Code sessions to apply.\n";

class InstallerCommandLineTest : public ::testing::Test {
 protected:
  test::ProcessResult run(const std::vector<std::string>& options) {
    std::vector<std::string> arguments{lumacapBinary()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return runProcess(arguments, {}, {{"HOME", home.path().string()}, {"CLAUDE_CONFIG_DIR", ""}});
  }
  fs::path settings() const { return home / ".claude" / "settings.json"; }
  json writtenHooks() const { return json::parse(readWholeFile(settings()))["hooks"]; }
  std::string ownCommand() const { return HookConfiguration::hookCommand(fs::canonical(lumacapBinary())); }

  test::TempDir home;
};

TEST_F(InstallerCommandLineTest, installsWithTheRunningExecutablesPath) {
  const test::ProcessResult result = run({"--install-claude-hooks"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.standardOutput, installedLine);
  EXPECT_EQ(result.standardError, "");
  for (const auto event : HookConfiguration::events) {
    EXPECT_EQ(writtenHooks()[std::string(event)][0]["hooks"][0]["command"], ownCommand());
  }

  const test::ProcessResult removed = run({"--remove-claude-hooks"});
  EXPECT_EQ(removed.exitStatus, 0);
  EXPECT_EQ(removed.standardOutput, removedLine);
  EXPECT_EQ(writtenHooks()["Stop"], json::array());
}

TEST_F(InstallerCommandLineTest, installingWinsOverRemovingAndHelp) {
  EXPECT_EQ(run({"--install-claude-hooks", "--remove-claude-hooks"}).standardOutput, installedLine);
  EXPECT_EQ(writtenHooks()["Stop"].size(), 1u);
  EXPECT_EQ(run({"--remove-claude-hooks", "--install-claude-hooks"}).standardOutput, installedLine);
  EXPECT_EQ(writtenHooks()["Stop"].size(), 1u);

  const test::ProcessResult removed = run({"--remove-claude-hooks", "--help"});
  EXPECT_EQ(removed.exitStatus, 0);
  EXPECT_EQ(removed.standardOutput, removedLine);
  EXPECT_EQ(writtenHooks()["Stop"], json::array());
}

TEST_F(InstallerCommandLineTest, failureIsOneLineOnStandardErrorWithStatusOne) {
  fs::create_directories(settings().parent_path());
  for (const auto& [content, expectedError] : std::map<std::string, std::string>{
           {R"({"hooks": []})",
            "Lumacap: Capture history could not be read safely. Your image files have not been changed.\n"},
           {"{\"hooks\":\n", "Lumacap: " + settings().string() + " could not be read as JSON: "},
       }) {
    std::ofstream(settings()) << content;
    for (const char* option : {"--install-claude-hooks", "--remove-claude-hooks"}) {
      const test::ProcessResult result = run({option});
      EXPECT_EQ(result.exitStatus, 1);
      EXPECT_EQ(result.standardOutput, "");
      EXPECT_TRUE(result.standardError.starts_with(expectedError)) << result.standardError;
      EXPECT_TRUE(result.standardError.ends_with("\n"));
      EXPECT_EQ(std::count(result.standardError.begin(), result.standardError.end(), '\n'), 1)
          << result.standardError;
      EXPECT_EQ(readWholeFile(settings()), content);
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(settings().parent_path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace lumacap
