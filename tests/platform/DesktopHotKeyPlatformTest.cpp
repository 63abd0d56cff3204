#include <gtest/gtest.h>

#include <QProcess>

#include "core/DesktopShortcut.h"
#include "platform/linux/GnomeKeybinding.h"
#include "platform/wayland/KeyboardLayout.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

constexpr uint32_t key2 = 19, key7 = 26;

TEST(KeyboardLayout, namesWhatShiftTypesOnTheGivenLayout) {
  // Every key Settings offers, by its key code there, with what Shift types on a US layout.
  const std::pair<uint32_t, const char*> us[] = {{18, "exclam"},     {19, "at"},       {20, "numbersign"},
                                                 {21, "dollar"},     {23, "percent"},  {22, "asciicircum"},
                                                 {26, "ampersand"},  {28, "asterisk"}, {25, "parenleft"},
                                                 {29, "parenright"}, {1, "S"},         {2, "D"},
                                                 {3, "F"},           {5, "G"}};
  const KeyboardLayout layout = KeyboardLayout::named("us");
  for (const auto& [key, name] : us) EXPECT_EQ(layout.shiftedKeyName(key), name) << key;
  EXPECT_EQ(KeyboardLayout::named("de").shiftedKeyName(key2), "quotedbl");
  EXPECT_EQ(KeyboardLayout::named("de").shiftedKeyName(key7), "slash");
  EXPECT_EQ(layout.shiftedKeyName(99), std::nullopt);  // not a key Settings offers
}

// GNOME's settings through the real gsettings, kept in a key file of a temporary home.
class GnomeKeybindingTest : public ::testing::Test {
 protected:
  test::TempDir home;
  test::ScopedEnvironment environment{{"GSETTINGS_BACKEND", "keyfile"},
                                      {"XDG_CONFIG_HOME", home.path().string()}};
  std::string get(const QString& schema, const QString& key) {
    QProcess gsettings;
    gsettings.start("gsettings", {"get", schema, key});
    gsettings.waitForFinished();
    return gsettings.readAllStandardOutput().trimmed().toStdString();
  }
  const QString list = "org.gnome.settings-daemon.plugins.media-keys";
  const QString ours =
      QString("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:") + gnomeKeybindingPath;
  void SetUp() override {
    if (QProcess::execute("gsettings", {"list-keys", list}) != 0)
      GTEST_SKIP() << "no GNOME media-keys schema";
  }
};

// The user's other entries come back byte for byte, whatever GVariant's text escapes in them.
TEST_F(GnomeKeybindingTest, addsRewritesAndRemovesItsOwnBindingBesideTheUsers) {
  QProcess::execute("gsettings",
                    {"set", list, "custom-keybindings",
                     R"(['/org/gnome/custom0/', '/tab\there/', '/c\u0001d/', "/it's/", '/say "hi"/', )"
                     R"('/back\\slash/', '/naïve ✓/'])"});
  const std::string users = get(list, "custom-keybindings");
  const std::string withOurs =
      users.substr(0, users.size() - 1) +
      ", '/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/lumacap/']";
  const GnomeKeybinding binding;
  EXPECT_FALSE(binding.present());
  binding.write("<Shift><Super>2", "'/opt/my \"apps\"\\/naïve/lumacap' --action=capture-region");
  EXPECT_TRUE(binding.present());
  EXPECT_EQ(get(list, "custom-keybindings"), withOurs);
  EXPECT_EQ(get(ours, "binding"), "'<Shift><Super>2'");
  EXPECT_EQ(get(ours, "command"), R"("'/opt/my \"apps\"\\/naïve/lumacap' --action=capture-region")");

  binding.write("<Alt><Super>3", "/usr/bin/lumacap --action=capture-region");  // a changed shortcut
  EXPECT_EQ(get(ours, "binding"), "'<Alt><Super>3'");
  EXPECT_EQ(get(list, "custom-keybindings"), withOurs);

  binding.remove();
  EXPECT_FALSE(binding.present());
  EXPECT_EQ(get(list, "custom-keybindings"), users);
  EXPECT_EQ(get(ours, "binding"), "''");
}

}  // namespace
}  // namespace lumacap
