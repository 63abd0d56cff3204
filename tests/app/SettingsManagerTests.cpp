#include <gtest/gtest.h>

#include <QSettings>

#include "app/SettingsManager.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

const QString notice = QStringLiteral(
    "Your old shortcut conflicted with other screenshot tools. Region capture now uses Shift+Super+2.");

// Every test gets its own settings folder, never the user's.
class SettingsManagerTest : public ::testing::Test {
 protected:
  SettingsManagerTest() {
    const QString folder = QString::fromStdString(settingsFolder.path().string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
  }

  static QSettings store() { return QSettings(QStringLiteral("Lumacap"), QStringLiteral("Lumacap")); }
  static void storeBytes(const std::string& bytes) {
    QSettings settings = store();
    settings.setValue("shortcut", QByteArray::fromStdString(bytes));
    settings.sync();
  }
  static std::optional<std::string> storedBytes() {
    QVariant value = store().value("shortcut");
    if (!value.isValid()) return std::nullopt;
    return value.toByteArray().toStdString();
  }

  test::TempDir settingsFolder;
};

TEST_F(SettingsManagerTest, FirstLaunchWritesTheDefaultWithoutNotice) {
  ASSERT_EQ(storedBytes(), std::nullopt);
  SettingsManager settings;
  EXPECT_EQ(settings.shortcut(), Shortcut::initial());
  EXPECT_TRUE(settings.shortcutMigrationNotice().isEmpty());
  ASSERT_TRUE(storedBytes());
  EXPECT_EQ(Shortcut::decoded(*storedBytes()), Shortcut::initial());
  EXPECT_EQ(test::permissionsOf(settingsFolder / "Lumacap" / "Lumacap.conf"), 0600u);
  EXPECT_EQ(test::permissionsOf(settingsFolder / "Lumacap"), 0700u);
}

TEST_F(SettingsManagerTest, ConflictingStoredShortcutIsMigratedOnceWithNotice) {
  storeBytes(Shortcut{21, "4", true, true, false, false}.encoded());
  {
    SettingsManager settings;
    EXPECT_EQ(settings.shortcut(), Shortcut::initial());
    EXPECT_EQ(settings.shortcutMigrationNotice(), notice);
    EXPECT_EQ(Shortcut::decoded(*storedBytes()), Shortcut::initial());
  }
  SettingsManager nextLaunch;
  EXPECT_EQ(nextLaunch.shortcut(), Shortcut::initial());
  EXPECT_TRUE(nextLaunch.shortcutMigrationNotice().isEmpty());
}

TEST_F(SettingsManagerTest, UnreadableStoredBytesAreReplacedSilently) {
  storeBytes("{\"keyCode\":19,\"keyLabel\":\"2\"");
  SettingsManager settings;
  EXPECT_EQ(settings.shortcut(), Shortcut::initial());
  EXPECT_TRUE(settings.shortcutMigrationNotice().isEmpty());
  EXPECT_EQ(Shortcut::decoded(*storedBytes()), Shortcut::initial());
}

TEST_F(SettingsManagerTest, ValidStoredShortcutIsUsedAndLeftUntouched) {
  const std::string bytes =
      R"({"control":true,"keyCode":2,"keyLabel":"D","command":false,"shift":false,"option":false,"note":"kept"})";
  storeBytes(bytes);
  SettingsManager settings;
  EXPECT_EQ(settings.shortcut(), (Shortcut{2, "D", false, false, false, true}));
  EXPECT_EQ(settings.shortcutLabel(), QStringLiteral("Ctrl+D"));
  EXPECT_TRUE(settings.shortcutMigrationNotice().isEmpty());
  EXPECT_EQ(storedBytes(), bytes);
}

TEST_F(SettingsManagerTest, AssigningStoresAndAnnouncesTheShortcut) {
  SettingsManager settings;
  int changes = 0;
  QObject::connect(&settings, &SettingsManager::shortcutChanged, [&changes] { ++changes; });
  const Shortcut optionS{1, "S", false, false, true, false};
  settings.setShortcut(optionS);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(settings.shortcut(), optionS);
  EXPECT_EQ(Shortcut::decoded(*storedBytes()), optionS);

  settings.setShortcut(optionS);
  EXPECT_EQ(changes, 1) << "an unchanged value is not announced again";

  SettingsManager nextLaunch;
  EXPECT_EQ(nextLaunch.shortcut(), optionS);
  EXPECT_EQ(test::permissionsOf(settingsFolder / "Lumacap" / "Lumacap.conf"), 0600u);
}

}  // namespace
}  // namespace lumacap
