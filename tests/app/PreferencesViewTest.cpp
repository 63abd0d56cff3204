#include "app/views/PreferencesView.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <future>

#include "app/HotKeyManager.h"
#include "app/SettingsManager.h"
#include "app/views/Symbols.h"
#include "support/ModelHarness.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using test::processEventsUntil;

class PreferencesViewTest : public ::testing::Test {
 protected:
  // The settings window as the tray menu opens it.
  PreferencesView& open() {
    if (!harness.model) harness.start();
    harness.model->showSettings();
    return static_cast<PreferencesView&>(*harness.model->preferencesWindow());
  }
  static void chooseKey(PreferencesView& view, const QString& label) {
    view.keyMenu()->setCurrentIndex(view.keyMenu()->findText(label));
  }
  static QColor colorOf(const QLabel& label) { return label.palette().color(QPalette::WindowText); }

  test::ModelHarness harness;
};

TEST_F(PreferencesViewTest, ShortcutNoteWarnsInOrangeBeforeTheMigrationNotice) {
  QSettings(QStringLiteral("Lumacap"), QStringLiteral("Lumacap"))
      .setValue("shortcut", QByteArray::fromStdString(Shortcut{21, "4", true, true, false, false}.encoded()));
  PreferencesView& view = open();
  const QString notice = harness.settings->shortcutMigrationNotice();
  ASSERT_FALSE(notice.isEmpty());
  EXPECT_TRUE(view.shortcutNote()->isVisible());
  EXPECT_EQ(view.shortcutNote()->text(), notice);
  EXPECT_EQ(colorOf(*view.shortcutNote()), look::secondary(view));
  EXPECT_TRUE(view.applyButton()->isEnabled());

  view.superBox()->click();  // Shift alone is left
  const Shortcut shiftOnly{19, "2", false, true, false, false};
  EXPECT_FALSE(view.applyButton()->isEnabled());
  EXPECT_EQ(view.shortcutNote()->text().toStdString(), shiftOnly.validationMessage());
  EXPECT_EQ(colorOf(*view.shortcutNote()), look::warning());

  view.altBox()->click();
  EXPECT_TRUE(view.applyButton()->isEnabled());
  EXPECT_EQ(view.shortcutNote()->text(), notice);
}

TEST_F(PreferencesViewTest, ApplyStoresOnlyWhatTheHotKeyAccepted) {
  PreferencesView& view = open();
  std::vector<Shortcut> registered;
  harness.model->updateShortcut = [&](const Shortcut& shortcut) {
    if (shortcut.keyLabel == "D") throw ShortcutError(10, ShortcutError::unavailableDescription);
    registered.push_back(shortcut);
  };
  chooseKey(view, "D");
  view.applyButton()->click();
  EXPECT_EQ(view.message(), ShortcutError::unavailableDescription);
  EXPECT_EQ(harness.settings->shortcut(), Shortcut::initial());
  EXPECT_EQ(view.currentLabel()->text(), "Current: Shift+Super+2");

  chooseKey(view, "S");
  view.applyButton()->click();
  const Shortcut expected{1, "S", true, true, false, false};
  EXPECT_EQ(registered, std::vector<Shortcut>{expected});
  EXPECT_EQ(harness.settings->shortcut(), expected);
  EXPECT_EQ(view.message(), "Shortcut updated to Shift+Super+S.");
  EXPECT_TRUE(view.messageLabel()->isVisible());
  EXPECT_EQ(view.currentLabel()->text(), "Current: Shift+Super+S");
}

TEST_F(PreferencesViewTest, HookButtonsWaitForTheInstallerOffTheGuiThread) {
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  harness.configureHooks = [opened](bool) -> std::string {
    opened.wait_for(std::chrono::seconds(10));
    throw std::runtime_error("settings.json is not valid JSON");
  };
  PreferencesView& view = open();
  view.installButton()->click();
  // The GUI thread is free while the installer works.
  EXPECT_TRUE(view.configuring());
  EXPECT_FALSE(view.installButton()->isEnabled());
  EXPECT_FALSE(view.removeButton()->isEnabled());

  gate.set_value();
  ASSERT_TRUE(processEventsUntil([&] { return !view.configuring(); })) << "the installer never finished";
  EXPECT_EQ(view.message(), "Could not update hooks: settings.json is not valid JSON");
  EXPECT_TRUE(view.installButton()->isEnabled());
  EXPECT_TRUE(view.removeButton()->isEnabled());

  harness.configureHooks = [](bool install) { return install ? "installed" : "removed"; };
  view.removeButton()->click();
  ASSERT_TRUE(processEventsUntil([&] { return !view.configuring(); })) << "the removal never finished";
  EXPECT_EQ(view.message(), "removed");
}

TEST_F(PreferencesViewTest, ShowingAgainReadsTheStoredStateAfresh) {
  PreferencesView& view = open();
  view.shiftBox()->click();
  EXPECT_FALSE(view.startAtLoginBox()->isChecked());
  view.hide();

  // Changed elsewhere while the window was closed.
  const Shortcut stored{5, "G", false, false, true, true};
  harness.settings->setShortcut(stored);
  harness.startAtLogin.enabled = true;
  open();
  EXPECT_EQ(view.candidate(), stored);
  EXPECT_FALSE(view.superBox()->isChecked());
  EXPECT_TRUE(view.altBox()->isChecked() && view.ctrlBox()->isChecked());
  EXPECT_EQ(view.keyMenu()->currentText(), "G");
  EXPECT_TRUE(view.startAtLoginBox()->isChecked());

  harness.startAtLogin.failure = "Could not write ~/.config/autostart/lumacap.desktop.";
  view.startAtLoginBox()->click();
  EXPECT_TRUE(view.startAtLoginBox()->isChecked());
  EXPECT_EQ(view.message(), "Could not write ~/.config/autostart/lumacap.desktop.");
}

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
