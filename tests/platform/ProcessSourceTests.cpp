#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/linux/ProcSource.h"
#include "platform/linux/PsSource.h"
#include "support/ScopedEnvironment.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using test::BackgroundProcess;
using test::runProcess;
using test::TempDir;

std::string psColumn(int pid, const std::string& column) {
  const auto result =
      runProcess({"/bin/ps", "-p", std::to_string(pid), "-o", column}, {}, {{"TZ", "UTC0"}, {"LC_ALL", "C"}});
  std::string text = result.standardOutput;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  return text;
}

TEST(ProcSourceTest, AgreesWithPsForLiveProcesses) {
  // Names with spaces and parentheses, and a long one that the kernel cuts to 15 bytes.
  TempDir folder;
  std::filesystem::copy_file("/bin/sleep", folder / "my (odd) name");
  std::filesystem::copy_file("/bin/sleep", folder / "averyveryverylongcommandname");
  BackgroundProcess odd({(folder / "my (odd) name").string(), "30"});
  BackgroundProcess longName({(folder / "averyveryverylongcommandname").string(), "30"});
  BackgroundProcess plain({"sleep", "30"});
  ProcSource source;
  for (pid_t pid : {odd.pid(), longName.pid(), plain.pid(), ::getpid(), ::getppid()}) {
    const auto identity = source.inspect(pid);
    ASSERT_TRUE(identity) << pid;
    EXPECT_EQ(identity->executable, psColumn(pid, "comm=")) << pid;
    EXPECT_EQ(identity->started, psColumn(pid, "lstart=")) << pid;
    EXPECT_EQ(source.parent(pid), std::stoi(psColumn(pid, "ppid="))) << pid;
  }
  EXPECT_EQ(source.executablePath(plain.pid()), std::filesystem::path("/usr/bin/sleep"));
}

TEST(ProcSourceTest, StartTimeIgnoresTheTimeZone) {
  ProcSource source;
  const auto before = source.inspect(::getpid());
  std::optional<ProcessIdentity> after;
  {
    const test::ScopedEnvironment environment({{"TZ", "America/Los_Angeles"}});
    ::tzset();
    after = ProcSource().inspect(::getpid());
  }
  ::tzset();
  ASSERT_TRUE(before && after);
  EXPECT_EQ(before->started, after->started);
  // Another process started with another TZ agrees as well.
  BackgroundProcess sleeper({"sleep", "30"}, {{"TZ", "Asia/Tokyo"}});
  EXPECT_EQ(source.inspect(sleeper.pid())->started, psColumn(sleeper.pid(), "lstart="));
}

TEST(ProcSourceTest, MissingOrInvalidProcesses) {
  ProcSource source;
  for (int32_t pid : {0, 1, -5}) EXPECT_FALSE(source.inspect(pid)) << pid;
  BackgroundProcess gone({"true"});
  const pid_t pid = gone.pid();
  gone.stop();
  EXPECT_FALSE(source.inspect(pid));
  EXPECT_FALSE(source.parent(pid));
}

TEST(ProcSourceTest, ParsesStatLines) {
  const auto stat =
      ProcSource::parseStat("42 (a) b) (c) S 7 42 42 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 12345 0 0");
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->command, "a) b) (c");
  EXPECT_EQ(stat->parent, 7);
  EXPECT_EQ(stat->startTicks, 12345u);
  EXPECT_FALSE(ProcSource::parseStat("42 no parentheses"));
  EXPECT_FALSE(ProcSource::parseStat("42 (x) S"));
}

// A stand-in for /bin/ps: a shell script that prints what a test needs.
std::string fakeLister(const TempDir& folder, const std::string& body) {
  const auto path = folder / "ps";
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path.string();
}

TEST(PsSourceTest, RunsTheListerWithAFixedEnvironment) {
  TempDir folder;
  const test::ScopedEnvironment environment({{"LUMACAP_SECRET", "leak"}});
  PsSource lister(fakeLister(folder, "echo \"$@\" >&2; env | sort"));
  EXPECT_EQ(lister.runPS({"-p", "1", "-o", "comm="}),
            "LC_ALL=C\nPATH=/usr/bin:/bin\nPWD=" + std::filesystem::current_path().string());
}

TEST(PsSourceTest, OutputRules) {
  TempDir folder;
  EXPECT_EQ(PsSource(fakeLister(folder, "printf '\\n'")).runPS({}), "");
  EXPECT_FALSE(PsSource(fakeLister(folder, "printf '\\n'")).inspect(42));
  EXPECT_FALSE(PsSource(fakeLister(folder, "printf '\\n'")).parent(42));
  EXPECT_FALSE(PsSource(fakeLister(folder, "echo claude; exit 1")).runPS({}));
  EXPECT_FALSE(PsSource(fakeLister(folder, "printf '\\377'")).runPS({}));
  EXPECT_FALSE(PsSource((folder / "missing").string()).runPS({}));
  EXPECT_EQ(PsSource(fakeLister(folder, "printf '  +42 \\n'")).parent(7), 42);
  EXPECT_EQ(PsSource(fakeLister(folder, "echo -1")).parent(7), -1);
  PsSource identity(fakeLister(
      folder, "case \"$4\" in comm=) echo ' claude ';; lstart=) echo 'Sat Dec  5 09:41:07 2026';; esac"));
  EXPECT_EQ(identity.inspect(42), (ProcessIdentity{42, "claude", "Sat Dec  5 09:41:07 2026"}));
  EXPECT_FALSE(identity.inspect(1)) << "ids below 2 start no process";
}

TEST(PsSourceTest, ParsesProcessIds) {
  EXPECT_EQ(PsSource::parseProcessID("42"), 42);
  EXPECT_EQ(PsSource::parseProcessID("+42"), 42);
  EXPECT_EQ(PsSource::parseProcessID("-1"), -1);
  EXPECT_EQ(PsSource::parseProcessID("2147483647"), 2147483647);
  for (const char* invalid : {"2147483648", "4 2", "0x2a", "", "+", "++4", "+-4", "42a"}) {
    EXPECT_FALSE(PsSource::parseProcessID(invalid)) << invalid;
  }
}

}  // namespace
}  // namespace lumacap
