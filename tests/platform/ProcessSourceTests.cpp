// Where processes and applications get their names: /proc, ps, WM_CLASS over
// xcb and desktop entries.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/linux/DesktopEntries.h"
#include "platform/linux/ProcSource.h"
#include "platform/linux/PsSource.h"
#include "platform/x11/XcbConnection.h"
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

using namespace std::string_view_literals;

TEST(XcbConnectionTest, TakesTheClassPartOfWMClass) {
  EXPECT_EQ(XcbConnection::classPart("xterm\0XTerm\0"sv), "XTerm");
  EXPECT_EQ(XcbConnection::classPart("kitty\0kitty"sv), "kitty");  // no final NUL
  EXPECT_EQ(XcbConnection::classPart("only-instance"sv), std::nullopt);
  EXPECT_EQ(XcbConnection::classPart("instance\0\0"sv), std::nullopt);
  EXPECT_EQ(XcbConnection::classPart(""sv), std::nullopt);
}

TEST(XcbConnectionTest, WithoutADisplayEveryQueryAnswersNothing) {
  XcbConnection connection(":9999");
  EXPECT_FALSE(connection.connected());
  EXPECT_EQ(connection.atom("_NET_ACTIVE_WINDOW"), static_cast<xcb_atom_t>(XCB_ATOM_NONE));
  EXPECT_TRUE(connection.managedWindows().empty());
  EXPECT_EQ(connection.activeWindow(), std::nullopt);
}

void writeEntry(const std::filesystem::path& file, const std::string& content) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << content;
}

TEST(DesktopEntriesTest, ReadsTheNameOfTheMainGroupInTheUsersLanguage) {
  const std::string content =
      "# comment\n[Desktop Entry]\nType=Application\nName=Terminal\nName[de]=Terminal (de)\n"
      "Name[de_AT]=Terminal (AT)\nStartupWMClass = Gnome-terminal \n"
      "[Desktop Action new-window]\nName=New Window\nStartupWMClass=Other\n";
  const auto german = DesktopEntries::parse(content, "org.gnome.Terminal", "de_DE");
  ASSERT_TRUE(german);
  EXPECT_EQ(german->name, "Terminal (de)");
  EXPECT_EQ(german->startupWMClass, "Gnome-terminal");
  EXPECT_EQ(DesktopEntries::parse(content, "t", "de_AT")->name, "Terminal (AT)");
  EXPECT_EQ(DesktopEntries::parse(content, "t", "")->name, "Terminal");

  EXPECT_FALSE(DesktopEntries::parse("[Desktop Entry]\nName=Gone\nHidden=true\n", "t", ""));
  EXPECT_FALSE(DesktopEntries::parse("[Desktop Action x]\nName=Only an action\n", "t", ""));
}

TEST(DesktopEntriesTest, MatchesTheWindowClassFirstByStartupWMClassThenByFileName) {
  test::TempDir home;
  const auto user = home / "user/applications";
  const auto system = home / "system/applications";
  writeEntry(system / "kitty.desktop", "[Desktop Entry]\nName=kitty terminal\n");
  writeEntry(system / "debian-xterm.desktop", "[Desktop Entry]\nName=XTerm (system)\nStartupWMClass=XTerm\n");
  writeEntry(user / "my-xterm.desktop", "[Desktop Entry]\nName=My XTerm\nStartupWMClass=XTerm\n");
  writeEntry(user / "XTerm.desktop", "[Desktop Entry]\nName=By file name\n");
  writeEntry(user / "sub/kitty.desktop", "[Desktop Entry]\nName=Nested kitty\n");
  writeEntry(user / "kitty.desktop", "[Desktop Entry]\nName=User kitty\n");
  writeEntry(system / "kitty.desktop.bak", "[Desktop Entry]\nName=Backup\n");

  DesktopEntries entries({user, system}, "");
  EXPECT_EQ(entries.name("XTerm"), "My XTerm");
  EXPECT_EQ(entries.name("Kitty"), "User kitty");  // the user's entry hides the system's
  EXPECT_EQ(entries.name("xterm"), "By file name");
  EXPECT_EQ(entries.name("Firefox"), std::nullopt);
  EXPECT_EQ(entries.name(""), std::nullopt);
}

}  // namespace
}  // namespace lumacap
