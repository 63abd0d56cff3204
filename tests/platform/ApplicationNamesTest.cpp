// Where application names come from: WM_CLASS over xcb and desktop entries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/linux/DesktopEntries.h"
#include "platform/x11/XcbConnection.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

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
