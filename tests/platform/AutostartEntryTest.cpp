#include "platform/linux/AutostartEntry.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/ScopedEnvironment.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace lumacap {
namespace {

using test::permissionsOf;
using test::TempDir;

void write(const fs::path& file, const std::string& content) { std::ofstream(file) << content; }

std::string validatorComplaints(const fs::path& file) {
  const auto result = test::runProcess({"desktop-file-validate", file.string()});
  return result.exitStatus == 0 ? result.standardOutput : "exit " + std::to_string(result.exitStatus);
}

TEST(AutostartEntryTest, IsOffUntilTurnedOnAndReadsTheTruthFromDisk) {
  TempDir config;
  const test::ScopedEnvironment environment({{"XDG_CONFIG_HOME", config.path().string()}});
  AutostartEntry entry;
  ASSERT_EQ(entry.file(), config / "autostart/org.lumacap.Lumacap.desktop");
  EXPECT_FALSE(entry.isEnabled());

  entry.setEnabled(true);
  EXPECT_TRUE(entry.isEnabled());
  EXPECT_EQ(permissionsOf(config / "autostart"), 0700u);
  EXPECT_EQ(permissionsOf(entry.file()), 0600u);
  EXPECT_EQ(validatorComplaints(entry.file()), "");
  const std::string written = AutostartEntry::contents(fs::read_symlink("/proc/self/exe"));

  // What desktops' settings (or the user, by hand) do to the file.
  const std::vector<std::pair<std::string, bool>> edits = {
      {written + "Hidden=true\n", false},
      {written + "X-GNOME-Autostart-enabled = false\n", false},
      {written + "Hidden=false\n", true},
      {written + "\n[Desktop Action other]\nHidden=true\n", true},
      {written + "Comment[fr]=D\xe9marre\n", false},  // not UTF-8: GLib refuses the whole file
      {written + "not a key\n", false},
      {"[Desktop Entry]\nType=Application\nExec=/nonexistent/lumacap\n", false},
      {"[Desktop Entry]\nType=Application\nExec=\"/bin/true\" --x\n", true},
  };
  for (const auto& [content, enabled] : edits) {
    write(entry.file(), content);
    EXPECT_EQ(entry.isEnabled(), enabled) << content;
  }
  fs::remove(entry.file());
  EXPECT_FALSE(entry.isEnabled());

  entry.setEnabled(true);
  entry.setEnabled(false);
  EXPECT_FALSE(fs::exists(entry.file()));
  EXPECT_NO_THROW(entry.setEnabled(false));
}

TEST(AutostartEntryTest, ExecLineSurvivesAwkwardPaths) {
  TempDir folder;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/usr/bin/lumacap", "Exec=/usr/bin/lumacap\n"},
      {"/home/a b/lumacap", "Exec=\"/home/a b/lumacap\"\n"},
      {"/opt/100%/lumacap", "Exec=/opt/100%%/lumacap\n"},
      {"/tmp/it's/lumacap", "Exec=\"/tmp/it's/lumacap\"\n"},
      {R"(/tmp/a"b$c\d`e/lumacap)", R"(Exec="/tmp/a\\"b\\$c\\\\d\\`e/lumacap")"
                                    "\n"},
  };
  for (const auto& [path, line] : cases) {
    const std::string content = AutostartEntry::contents(path);
    EXPECT_NE(content.find(line), std::string::npos) << content;
    write(folder / "entry.desktop", content);
    EXPECT_EQ(validatorComplaints(folder / "entry.desktop"), "") << path;
  }
  for (const char* path : {"/tmp/line\nbreak/lumacap", "/tmp/a\x01b/lumacap", "/tmp/tab\t/lumacap"}) {
    EXPECT_THROW(AutostartEntry::contents(path), std::runtime_error) << path;
  }
  try {
    AutostartEntry::contents("/opt/\xff/lumacap");
    ADD_FAILURE() << "a path that is not UTF-8 was accepted";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(),
                 "Lumacap’s path is not valid UTF-8 text, so it cannot be written into the entry that starts "
                 "it at login.");
  }
}

TEST(AutostartEntryTest, RefusesAProgramReplacedSinceItStarted) {
  TempDir folder;
  fs::create_symlink("/opt/lumacap/bin/lumacap", folder / "current");
  fs::create_symlink("/opt/lumacap/bin/lumacap (deleted)", folder / "replaced");
  EXPECT_EQ(AutostartEntry::runningExecutable(folder / "current"), "/opt/lumacap/bin/lumacap");
  try {
    AutostartEntry::runningExecutable(folder / "replaced");
    FAIL() << "a deleted program was accepted";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("/opt/lumacap/bin/lumacap was replaced"), std::string::npos)
        << error.what();
  }
}

// Failures that no permission bits cause, so that they happen as root too.
TEST(AutostartEntryTest, FailuresNameTheFileInOneLine) {
  TempDir config;
  write(config / "autostart", "a file where the folder should be");
  AutostartEntry blocked(config / "autostart/org.lumacap.Lumacap.desktop");
  fs::create_directories(config / "busy/org.lumacap.Lumacap.desktop/inside");
  AutostartEntry undeletable(config / "busy/org.lumacap.Lumacap.desktop");

  for (auto [entry, enable] : {std::pair{&blocked, true}, std::pair{&undeletable, false}}) {
    try {
      entry->setEnabled(enable);
      ADD_FAILURE() << "no error for " << entry->file();
    } catch (const std::runtime_error& error) {
      const std::string message = error.what();
      EXPECT_NE(message.find((config / (enable ? "autostart" : "busy")).string()), std::string::npos)
          << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
  EXPECT_TRUE(fs::is_regular_file(config / "autostart"));
}

}  // namespace
}  // namespace lumacap
