#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/HookHandler.h"
#include "core/AtomicFile.h"
#include "core/HookConfiguration.h"
#include "core/ScreenshotStore.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using test::permissionsOf;

const fs::path program = "/opt/lumacap/bin/lumacap";
const std::string installedMessage =
    "Hooks installed. Review them in Claude Code’s /hooks menu, then restart your sessions. Existing "
    "settings were "
    "preserved and backed up.";
const std::string removedMessage = "Lumacap hooks removed. Restart Claude Code sessions to apply.";

class HookInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("HOME", home.path().c_str(), 1);
    ::unsetenv("CLAUDE_CONFIG_DIR");
  }

  fs::path folder() const { return home / ".claude"; }
  fs::path settings() const { return folder() / "settings.json"; }

  void writeSettings(const std::string& bytes, mode_t mode = 0644) {
    fs::create_directories(folder());
    std::ofstream(settings(), std::ios::binary) << bytes;
    ::chmod(settings().c_str(), mode);
  }

  // Backup files in the folder.
  std::vector<fs::path> backups(const fs::path& in) const {
    static const std::regex name(
        R"(settings\.lumacap-backup-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-)"
        R"([0-9A-F]{12}\.json)");
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(in)) {
      if (std::regex_match(entry.path().filename().string(), name)) found.push_back(entry.path());
    }
    return found;
  }

  size_t filesIn(const fs::path& in) const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(in), fs::directory_iterator()));
  }

  test::TempDir home;
};

TEST_F(HookInstallerTest, createsPrivateFolderAndFileWithoutBackup) {
  ::umask(022);
  EXPECT_EQ(HookHandler::configure(true, program), installedMessage);
  EXPECT_EQ(permissionsOf(folder()), 0700u);
  EXPECT_EQ(permissionsOf(settings()), 0600u);
  EXPECT_EQ(filesIn(folder()), 1u);
  const json written = json::parse(readWholeFile(settings()));
  for (const auto event : HookConfiguration::events) {
    EXPECT_EQ(written["hooks"][std::string(event)][0]["hooks"][0]["command"],
              "'/opt/lumacap/bin/lumacap' --claude-hook");
  }
}

TEST_F(HookInstallerTest, removingWithoutFileWritesEmptyEvents) {
  EXPECT_EQ(HookHandler::configure(false, program), removedMessage);
  EXPECT_EQ(json::parse(readWholeFile(settings())),
            json::parse(R"({"hooks":{"SessionStart":[],"SessionEnd":[],"UserPromptSubmit":[],"Stop":[]}})"));
  EXPECT_EQ(filesIn(folder()), 1u);
}

TEST_F(HookInstallerTest, createsMissingParentsPrivately) {
  ::setenv("HOME", (home / "nested" / "home").c_str(), 1);
  HookHandler::configure(true, program);
  EXPECT_EQ(permissionsOf(home / "nested"), 0700u);
  EXPECT_EQ(permissionsOf(home / "nested" / "home" / ".claude"), 0700u);
}

TEST_F(HookInstallerTest, backsUpEachEarlierVersionAndMakesFilesPrivate) {
  const std::string original = R"({"model": "opus", "big": 123456789012345678901234567890})";
  writeSettings(original, 0644);
  ::chmod(folder().c_str(), 0755);

  HookHandler::configure(true, program);
  const std::string afterFirst = readWholeFile(settings());
  HookHandler::configure(true, program);

  const std::vector<fs::path> saved = backups(folder());
  ASSERT_EQ(saved.size(), 2u);
  // Backup names are random, so they tell nothing of their order.
  std::multiset<std::string> contents{readWholeFile(saved[0]), readWholeFile(saved[1])};
  EXPECT_EQ(contents, (std::multiset<std::string>{original, afterFirst}));
  for (const fs::path& backup : saved) EXPECT_EQ(permissionsOf(backup), 0600u);
  EXPECT_EQ(permissionsOf(settings()), 0600u);
  EXPECT_EQ(permissionsOf(folder()), 0755u) << "an existing folder keeps its mode";

  const std::string final = readWholeFile(settings());
  EXPECT_EQ(final, afterFirst);
  EXPECT_NE(final.find("123456789012345678901234567890"), std::string::npos);
  const json hooks = json::parse(final)["hooks"];
  for (const auto event : HookConfiguration::events) EXPECT_EQ(hooks[std::string(event)].size(), 1u);
}

TEST_F(HookInstallerTest, refusedSettingsLeaveEverythingUntouched) {
  for (const std::string& bad :
       {std::string("[]"), std::string(R"({"hooks": "on"})"), std::string(R"({"hooks": {"Stop": {}}})"),
        std::string(R"({"hooks": {"SessionStart": [1, 2]}})")}) {
    writeSettings(bad, 0644);
    ::chmod(folder().c_str(), 0755);
    for (const bool install : {true, false}) {
      try {
        HookHandler::configure(install, program);
        ADD_FAILURE() << "accepted " << bad;
      } catch (const StoreError& error) {
        EXPECT_STREQ(error.what(),
                     "Capture history could not be read safely. Your image files have not been changed.");
      }
      EXPECT_EQ(readWholeFile(settings()), bad);
      EXPECT_EQ(permissionsOf(settings()), 0644u);
      EXPECT_EQ(permissionsOf(folder()), 0755u);
      EXPECT_EQ(filesIn(folder()), 1u) << "no backup, no temporary file";
    }
  }
}

TEST_F(HookInstallerTest, textThatIsNotJsonIsNamedAndKept) {
  writeSettings("{\"model\": \"opus\",\n}", 0644);
  try {
    HookHandler::configure(true, program);
    ADD_FAILURE();
  } catch (const SettingsParseError& error) {
    EXPECT_TRUE(std::string(error.what())
                    .starts_with(settings().string() + " could not be read as JSON: parse error"))
        << error.what();
  }
  EXPECT_EQ(readWholeFile(settings()), "{\"model\": \"opus\",\n}");
  EXPECT_EQ(filesIn(folder()), 1u);
}

TEST_F(HookInstallerTest, symbolicLinkStaysAndItsTargetIsReplaced) {
  const std::string original = R"({"theme": "dark"})";
  fs::create_directories(home / "dotfiles");
  std::ofstream(home / "dotfiles" / "claude.json") << original;
  fs::create_directories(folder());
  fs::create_symlink("../dotfiles/claude.json", settings());

  HookHandler::configure(true, program);

  ASSERT_TRUE(fs::is_symlink(fs::symlink_status(settings())));
  EXPECT_EQ(fs::read_symlink(settings()), "../dotfiles/claude.json");
  const json written = json::parse(readWholeFile(home / "dotfiles" / "claude.json"));
  EXPECT_EQ(written["theme"], "dark");
  EXPECT_EQ(written["hooks"]["Stop"].size(), 1u);
  EXPECT_EQ(permissionsOf(home / "dotfiles" / "claude.json"), 0600u);
  const std::vector<fs::path> saved = backups(folder());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(saved[0])));
  EXPECT_EQ(readWholeFile(saved[0]), original);
  EXPECT_EQ(std::distance(fs::directory_iterator(home / "dotfiles"), fs::directory_iterator()), 1)
      << "no temporary file left beside the target";
}

TEST_F(HookInstallerTest, followsClaudeConfigDirWhenAbsolute) {
  const fs::path configured = home / "config" / "claude";
  ::setenv("CLAUDE_CONFIG_DIR", configured.c_str(), 1);
  HookHandler::configure(true, program);
  EXPECT_TRUE(fs::exists(configured / "settings.json"));
  EXPECT_EQ(permissionsOf(configured), 0700u);
  EXPECT_FALSE(fs::exists(folder()));

  // A relative or empty value is not a folder Lumacap can name safely.
  for (const char* ignored : {"relative/claude", ""}) {
    ::setenv("CLAUDE_CONFIG_DIR", ignored, 1);
    HookHandler::configure(false, program);
    EXPECT_TRUE(fs::exists(settings())) << ignored;
    fs::remove_all(folder());
  }
}

TEST_F(HookInstallerTest, failedWriteKeepsSettingsAndReportsThePath) {
  // A link whose target folder does not exist: nothing to read, and the
  // replacement cannot be created.
  fs::create_directories(folder());
  fs::create_symlink(home / "missing" / "settings.json", settings());
  try {
    HookHandler::configure(true, program);
    ADD_FAILURE();
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find((home / "missing").string()), std::string::npos) << error.what();
  }
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(settings())));
  EXPECT_EQ(filesIn(folder()), 1u);
}

TEST_F(HookInstallerTest, unreadableSettingsStopBeforeWriting) {
  fs::create_directories(settings());  // a folder where the file should be
  EXPECT_THROW(HookHandler::configure(true, program), std::system_error);
  EXPECT_EQ(filesIn(folder()), 1u);
}

// Files may not grow beyond `bytes` in this test process: writes past it fail
// with EFBIG, for the superuser too.
void limitFileSize(rlim_t bytes) {
  ::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{bytes, bytes};
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
}

TEST_F(HookInstallerTest, failedBackupLeavesSettingsUntouched) {
  const std::string large = R"({"notes": ")" + std::string(8000, 'x') + R"("})";
  writeSettings(large, 0644);
  limitFileSize(4096);
  EXPECT_THROW(HookHandler::configure(true, program), std::system_error);
  EXPECT_EQ(readWholeFile(settings()), large);
  EXPECT_EQ(permissionsOf(settings()), 0644u);
  EXPECT_EQ(filesIn(folder()), 1u) << "the partial backup is removed";
}

TEST_F(HookInstallerTest, failureAfterBackupKeepsBackupAndSettings) {
  const std::string small = R"({"model": "opus"})";
  writeSettings(small, 0644);
  limitFileSize(small.size() + 100);  // the backup fits, the new settings do not
  EXPECT_THROW(HookHandler::configure(true, program), std::system_error);
  EXPECT_EQ(readWholeFile(settings()), small);
  const std::vector<fs::path> saved = backups(folder());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(readWholeFile(saved[0]), small);
  EXPECT_EQ(filesIn(folder()), 2u) << "no temporary file left";
}

}  // namespace
}  // namespace lumacap
