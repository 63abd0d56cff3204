#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "core/AtomicFile.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace lumacap {
namespace {

using test::ProcessResult;
using test::runProcess;
using test::TempDir;

// Every tool gets a deadline, so that a stuck dpkg fails the test with a message.
ProcessResult runWithDeadline(std::vector<std::string> arguments,
                              const std::map<std::string, std::string>& environment = {},
                              const std::string& input = {}) {
  arguments.insert(arguments.begin(), {"timeout", "120"});
  ProcessResult result = runProcess(arguments, input, environment);
  if (result.exitStatus == 124) ADD_FAILURE() << arguments[2] << " did not finish within 120 s";
  return result;
}

std::vector<std::string> entriesBelow(const fs::path& root) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    entries.push_back(entry.path().lexically_relative(root).string());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

TEST(DesktopEntryTest, PassesTheFreedesktopValidator) {
  const ProcessResult result = runWithDeadline(
      {"desktop-file-validate", std::string(LUMACAP_SOURCE_DIR) + "/packaging/org.lumacap.Lumacap.desktop"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardOutput << result.standardError;
  // Hints (such as two main categories, which are wanted here) are fine.
  EXPECT_EQ(result.standardOutput.find("error:"), std::string::npos) << result.standardOutput;
  EXPECT_EQ(result.standardOutput.find("warning:"), std::string::npos) << result.standardOutput;
}

TEST(ManualPageTest, RendersWithoutWarnings) {
  const ProcessResult page =
      runWithDeadline({"man", "--warnings", "-l", std::string(LUMACAP_BUILD_DIR) + "/packaging/lumacap.1"},
                      {{"MANWIDTH", "80"}});
  EXPECT_EQ(page.exitStatus, 0);
  EXPECT_EQ(page.standardError, "");
  for (const char* section : {"SYNOPSIS", "OPTIONS", "FILES", "ENVIRONMENT"}) {
    EXPECT_NE(page.standardOutput.find(section), std::string::npos) << section;
  }
}

// `make run` installs what building and running Lumacap needs, and none of
// the desktops, terminals and tools only the tests use; each job's list holds
// the one before it.
TEST(BootstrapTest, EachJobInstallsOnlyWhatItNeeds) {
  const auto packagesOf = [](const std::string& job) {
    const ProcessResult listed =
        runWithDeadline({std::string(LUMACAP_SOURCE_DIR) + "/scripts/bootstrap", job, "--list"});
    EXPECT_EQ(listed.exitStatus, 0) << listed.standardError;
    std::set<std::string> names;
    std::istringstream lines(listed.standardOutput);
    for (std::string name; std::getline(lines, name);) names.insert(name);
    return names;
  };
  const std::set<std::string> run = packagesOf("run"), package = packagesOf("package"),
                              all = packagesOf("test");
  EXPECT_TRUE(run.contains("qt6-base-dev") && run.contains("tesseract-ocr-eng") &&
              package.contains("dpkg-dev"));
  EXPECT_TRUE(std::includes(package.begin(), package.end(), run.begin(), run.end()));
  EXPECT_TRUE(std::includes(all.begin(), all.end(), package.begin(), package.end()));
  for (const char* testOnly : {"xvfb", "gnome-shell", "sway", "kwin-wayland", "konsole", "foot", "flameshot",
                               "maim", "scrot", "clang", "libgtest-dev", "libbenchmark-dev"}) {
    EXPECT_FALSE(package.contains(testOnly)) << testOnly;
    EXPECT_TRUE(all.contains(testOnly)) << testOnly;
  }
}

// The package is installed with dpkg into a scratch root with an empty
// database: that runs dpkg's own unpacking, its maintainer scripts and its
// removal bookkeeping, as root and unprivileged alike (dpkg -i into / would
// need root and change the machine). The scripts run outside the scratch root,
// which has no shell, with a stand-in for ldconfig.
class DebianPackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (runProcess({"sh", "-c", "command -v dpkg-deb"}).exitStatus != 0) GTEST_SKIP() << "no dpkg here";
    fs::create_directories(admin / "info");
    fs::create_directories(admin / "updates");
    std::ofstream(admin / "status").close();
    fs::create_directories(tools.path());
    std::ofstream(tools / "ldconfig") << "#!/bin/sh\ntouch \"$0.ran\"\n";
    fs::permissions(tools / "ldconfig", fs::perms::owner_all);
  }

  fs::path buildPackage() {
    const ProcessResult built = runWithDeadline(
        {"cpack", "--config", std::string(LUMACAP_BUILD_DIR) + "/CPackConfig.cmake", "-B", scratch.path()});
    EXPECT_EQ(built.exitStatus, 0) << built.standardOutput << built.standardError;
    for (const auto& entry : fs::directory_iterator(scratch.path())) {
      if (entry.path().extension() == ".deb") return entry.path();
    }
    ADD_FAILURE() << "cpack made no .deb: " << built.standardOutput;
    return {};
  }

  ProcessResult dpkg(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(),
                     {"dpkg", "--root=" + root.path().string(), "--admindir=" + admin.string(),
                      "--force-not-root", "--force-script-chrootless", "--force-depends", "--log=/dev/null"});
    return runWithDeadline(arguments, {{"PATH", tools.path().string() + ":/usr/sbin:/usr/bin:/sbin:/bin"}});
  }

  TempDir scratch;
  TempDir root;
  TempDir tools;
  TempDir home;
  fs::path admin = root / "var/lib/dpkg";
};

TEST_F(DebianPackageTest, InstallsRunsFromItsPathAndRemovesWithoutLeftovers) {
  const fs::path package = buildPackage();
  ASSERT_FALSE(package.empty());
  const ProcessResult installed = dpkg({"--install", package.string()});
  ASSERT_EQ(installed.exitStatus, 0) << installed.standardError;

  const fs::path usr = root / "usr";
  const std::string executable = (usr / "bin/lumacap").string();
  for (const char* file :
       {"lib/lumacap/liblumacap-app.so", "lib/lumacap/liblumacap-handoff.so",
        "share/applications/org.lumacap.Lumacap.desktop",
        "share/icons/hicolor/scalable/apps/org.lumacap.Lumacap.svg",
        "share/icons/hicolor/48x48/apps/org.lumacap.Lumacap.png", "share/man/man1/lumacap.1.gz"}) {
    EXPECT_TRUE(fs::is_regular_file(usr / file)) << file;
  }
  // The bus starts the executable where the package put it, not where the
  // build tree would have installed it.
  EXPECT_NE(readWholeFile(usr / "share/dbus-1/services/org.lumacap.Lumacap.service")
                .find("Exec=/usr/bin/lumacap\n"),
            std::string::npos);
  // KWin lends its screenshot interface to the program whose installed entry
  // names its executable by that path and lists the interface.
  const std::string entry = readWholeFile(usr / "share/applications/org.lumacap.Lumacap.desktop");
  EXPECT_NE(entry.find("\nExec=/usr/bin/lumacap\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nExec=/usr/bin/lumacap --action=capture-region\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n"), std::string::npos);

  const ProcessResult help = runWithDeadline({executable, "--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_TRUE(help.standardOutput.starts_with("Usage: lumacap ")) << help.standardOutput;

  const std::map<std::string, std::string> environment = {
      {"HOME", home.path().string()}, {"XDG_DATA_HOME", (home / "data").string()}, {"DISPLAY", ""}};
  const ProcessResult hook =
      runWithDeadline({executable, "--claude-hook"}, environment,
                      R"({"session_id":"s1","cwd":"/tmp","hook_event_name":"SessionStart"})");
  EXPECT_EQ(hook.exitStatus, 0) << hook.standardError;
  EXPECT_EQ(hook.standardOutput, "");

  // The application role finds its library in the installed tree and gets as
  // far as asking for a display.
  const ProcessResult application = runWithDeadline({executable}, environment);
  EXPECT_EQ(application.exitStatus, 1);
  EXPECT_EQ(application.standardError.find("liblumacap-app.so"), std::string::npos)
      << application.standardError;

  const ProcessResult removed = dpkg({"--purge", "lumacap"});
  ASSERT_EQ(removed.exitStatus, 0) << removed.standardError;
  std::vector<std::string> left;
  for (const std::string& entry : entriesBelow(root.path())) {
    if (!entry.starts_with("var")) left.push_back(entry);
  }
  EXPECT_EQ(left, std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(admin / "info/lumacap.list"));
}

}  // namespace
}  // namespace lumacap
