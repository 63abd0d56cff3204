#include "app/views/PreferencesView.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <atomic>
#include <fstream>
#include <future>
#include <memory>
#include <tuple>

#include "app/hotkey/HotKeyManager.h"
#include "app/model/SettingsManager.h"
#include "app/views/AgentSetupPanel.h"
#include "app/views/CaptureFolderSetting.h"
#include "app/views/Symbols.h"
#include "core/UserSettings.h"
#include "support/ModelHarness.h"
#include "support/ScopedEnvironment.h"
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
    return static_cast<PreferencesView&>(*harness.windows->preferencesWindow());
  }
  static void chooseKey(PreferencesView& view, const QString& label) {
    view.keyMenu()->setCurrentIndex(view.keyMenu()->findText(label));
  }
  static QColor colorOf(const QLabel& label) { return label.palette().color(QPalette::WindowText); }

  test::ModelHarness harness;
};

TEST_F(PreferencesViewTest, SaysWhatDoesNotWorkOnThisDesktopAndWhatToDo) {
  harness.desktopLimits.shortcut = "No shortcut here: bind one in the desktop.";
  harness.desktopLimits.windows = "No window list here.";
  harness.desktopLimits.pin = "Pins are ordinary windows here.";
  PreferencesView& view = open();
  EXPECT_EQ(view.shortcutNote()->text(), QStringLiteral("No shortcut here: bind one in the desktop."));
  EXPECT_EQ(colorOf(*view.shortcutNote()), look::warning());
  QStringList texts;
  for (const QLabel* label : view.findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(texts.contains(QStringLiteral("On this desktop")));
  EXPECT_TRUE(texts.contains(QStringLiteral("No window list here.")));
  EXPECT_TRUE(texts.contains(QStringLiteral("Pins are ordinary windows here.")));
}

TEST_F(PreferencesViewTest, WhereEverythingWorksThereIsNoDesktopSection) {
  PreferencesView& view = open();
  for (const QLabel* label : view.findChildren<QLabel*>())
    EXPECT_NE(label->text(), QStringLiteral("On this desktop"));
}

TEST_F(PreferencesViewTest, ShortcutNoteWarnsInOrangeBeforeTheMigrationNotice) {
  QSettings(QStringLiteral("Lumacap"), QStringLiteral("Lumacap"))
      .setValue("shortcut", QByteArray::fromStdString(Shortcut{1, "S", true, true, false, false}.encoded()));
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
  struct Registration : ShortcutRegistration {
    std::vector<Shortcut> registered;
    void registerShortcut(const Shortcut& shortcut) override {
      if (shortcut.keyLabel == "D") throw ShortcutError(10, ShortcutError::unavailableDescription);
      registered.push_back(shortcut);
    }
  } registration;
  std::vector<Shortcut>& registered = registration.registered;
  harness.context->shortcuts = &registration;
  chooseKey(view, "D");
  view.applyButton()->click();
  // Said beside the shortcut, with what was tried kept beside the one in force.
  EXPECT_EQ(view.shortcutNote()->text().toStdString(),
            "Shift+Super+D: " + std::string(ShortcutError::unavailableDescription));
  EXPECT_EQ(harness.settings->shortcut(), Shortcut::initial());
  EXPECT_EQ(view.currentLabel()->text(), "Current: Shift+Super+2");
  EXPECT_EQ(view.keyMenu()->currentText(), "D");

  chooseKey(view, "S");  // Shift+Super+S: refused in place, and the old message is gone
  EXPECT_EQ(view.shortcutNote()->text().toStdString().find("Super+D"), std::string::npos)
      << "an edit ends it";
  EXPECT_FALSE(view.applyButton()->isEnabled());
  EXPECT_EQ(view.message(), "");
  EXPECT_FALSE(view.messageLabel()->isVisible());

  chooseKey(view, "G");
  view.applyButton()->click();
  const Shortcut expected{5, "G", true, true, false, false};
  EXPECT_EQ(registered, std::vector<Shortcut>{expected});
  EXPECT_EQ(harness.settings->shortcut(), expected);
  EXPECT_EQ(view.message(), "Shortcut updated to Shift+Super+G.");
  EXPECT_TRUE(view.messageLabel()->isVisible());
  EXPECT_EQ(view.currentLabel()->text(), "Current: Shift+Super+G");
}

// Every section shows without scrolling where the screen is tall enough: a
// 1080-pixel screen less its panels is. A smaller one keeps room for the title
// bar the window system adds.
TEST_F(PreferencesViewTest, OpensTallEnoughForEverySectionWithRoomForItsTitleBar) {
  PreferencesView& view = open();
  QScrollArea& scroll = *view.scrollArea();
  // Once the agents found are listed (off the GUI thread; here none).
  ASSERT_TRUE(processEventsUntil([&] { return view.agentSetup()->listed(); }));
  const int needed = scroll.widget()->heightForWidth(scroll.viewport()->width());
  EXPECT_LE(needed, 1080 - 100);
  const int screen = view.screen()->availableGeometry().height();
  const bool fits = scroll.verticalScrollBar()->maximum() == 0;
  EXPECT_TRUE(fits || view.height() == screen - look::titleBarRoom)
      << "scrolls at " << view.height() << " pixels for " << needed;
  EXPECT_LE(view.height() + look::titleBarRoom, screen);
}

TEST_F(PreferencesViewTest, CaptureFolderSaysWhenNoFileManagerCanOpenIt) {
  PreferencesView& view = open();
  harness.fileBrowser.shows = false;
  view.captureFolderButton()->click();
  const std::filesystem::path folder = ScreenshotStore::defaultRoot() / "Captures";
  EXPECT_EQ(harness.fileBrowser.opened, std::vector<std::filesystem::path>{folder});
  EXPECT_EQ(view.message().toStdString(), "No file manager is installed to open " + folder.string());
  EXPECT_TRUE(view.messageLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);

  harness.fileBrowser.shows = true;
  view.captureFolderButton()->click();
  EXPECT_EQ(view.message(), "");
}

TEST_F(PreferencesViewTest, CaptureFolderIsCreatedOrRefusedAndMovingIsOfferedWithTheCount) {
  PreferencesView& view = open();
  CaptureFolderSetting& row = *view.captureFolderSetting();
  EXPECT_EQ(row.folderLabel()->toolTip().toStdString(),
            (ScreenshotStore::defaultRoot() / "Captures").string());
  row.saveEveryBox()->click();
  EXPECT_TRUE(harness.settings->saveEveryCapture());
  test::awaitTask(harness.model->capture(CaptureMode::display));
  harness.model->save();  // a second save while the first is under way stores nothing more
  test::awaitTask(harness.model->save());
  ASSERT_TRUE(
      processEventsUntil([&] { return harness.model->savedID() && !harness.model->records().empty(); }));
  EXPECT_EQ(harness.model->records().size(), 1u);

  std::ofstream(harness.root / "file") << "";
  test::awaitTask(row.choose(harness.root / "file" / "shots"));
  EXPECT_TRUE(view.message().startsWith("Captures can’t be kept there: Could not create"))
      << view.message().toStdString();
  EXPECT_FALSE(harness.settings->captureFolder());

  const std::filesystem::path chosen = harness.root / "Shots";
  row.choose(chosen);
  ASSERT_TRUE(processEventsUntil([&] { return row.question() != nullptr; }));
  EXPECT_TRUE(row.question()->text().startsWith("1 saved capture is in another folder. Move them to " +
                                                QString::fromStdString(chosen.string())));
  EXPECT_EQ(test::permissionsOf(chosen), 0700u);
  for (QAbstractButton* button : row.question()->buttons()) {
    if (button->text() == "Move") button->click();
  }
  ASSERT_TRUE(processEventsUntil([&] { return harness.settings->captureFolder() == chosen; }));
  EXPECT_TRUE(std::filesystem::is_regular_file(chosen / harness.model->records().at(0).filename));
  EXPECT_EQ(row.folderLabel()->toolTip().toStdString(), chosen.string());
  EXPECT_EQ(view.message(), "");
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

// The section names the file the installer edits and says whether the hooks
// are in it, as read when the window opens and after each change.
TEST_F(PreferencesViewTest, ClaudeCodeSectionNamesTheSettingsFileAndTheHooksState) {
  auto installed = std::make_shared<std::atomic<int>>(0);
  harness.hookStatus = [installed] {
    const int state = *installed;
    return HookStatus{"/srv/config/claude/settings.json",
                      state < 2 ? std::optional(state == 1) : std::nullopt};
  };
  PreferencesView& view = open();
  ASSERT_TRUE(processEventsUntil([&] { return !view.hookStatusLabel()->text().isEmpty(); }));
  EXPECT_TRUE(view.hookFileLabel()->text().contains("/srv/config/claude/settings.json"));
  EXPECT_EQ(view.hookStatusLabel()->text(), "Hooks are not installed.");

  *installed = 1;
  view.installButton()->click();
  EXPECT_TRUE(processEventsUntil([&] { return view.hookStatusLabel()->text() == "Hooks are installed."; }));
  view.hide();
  *installed = 2;
  open();
  EXPECT_TRUE(processEventsUntil(
      [&] { return view.hookStatusLabel()->text() == "Could not read /srv/config/claude/settings.json."; }));
}

// The agents found on this computer get a row with the state of their hooks
// and MCP server; a button changes one off the GUI thread, and the row then
// shows what is read afresh.
TEST_F(PreferencesViewTest, AgentRowsShowAndChangeEachFoundAgentsHooksAndMcpServer) {
  auto added = std::make_shared<std::atomic<bool>>(false);
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  harness.agentStatus = [added](const CodingAgent& agent) {
    return AgentSetupStatus{
        .found = agent.key == "codex", .hooks = {"/h", true}, .mcp = {"/m", bool(*added)}};
  };
  harness.configureAgent = [added, opened](const CodingAgent& agent, AgentSetupPart part, bool install) {
    opened.wait_for(std::chrono::seconds(10));
    *added = agent.key == "codex" && part == AgentSetupPart::mcp && install;
    return std::string("added");
  };
  AgentSetupPanel& panel = *open().agentSetup();
  ASSERT_TRUE(processEventsUntil([&] { return !panel.statusLabel("codex")->text().isEmpty(); }));
  EXPECT_TRUE(panel.row("codex")->isVisibleTo(&panel));
  EXPECT_FALSE(panel.row("gemini")->isVisibleTo(&panel));
  EXPECT_EQ(panel.statusLabel("codex")->text(), "Codex: hooks installed, MCP server not added");
  EXPECT_EQ(panel.button("codex", AgentSetupPart::hooks)->text(), "Remove Hooks");
  panel.button("codex", AgentSetupPart::mcp)->click();
  EXPECT_TRUE(panel.busy()) << "the GUI thread goes on while the installer works";
  EXPECT_FALSE(panel.button("codex", AgentSetupPart::hooks)->isEnabled());
  gate.set_value();
  ASSERT_TRUE(processEventsUntil([&] { return !panel.busy(); }));
  EXPECT_EQ(open().message(), "added");
  EXPECT_EQ(panel.statusLabel("codex")->text(), "Codex: hooks installed, MCP server added");
  EXPECT_EQ(panel.button("codex", AgentSetupPart::mcp)->text(), "Remove MCP");
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
  ASSERT_TRUE(test::processEventsUntil([&] { return view.startAtLoginBox()->isEnabled(); }));
  EXPECT_TRUE(view.startAtLoginBox()->isChecked());
  EXPECT_EQ(view.message(), "Could not write ~/.config/autostart/lumacap.desktop.");
  harness.startAtLogin.failure.reset();
  view.startAtLoginBox()->click();
  ASSERT_TRUE(test::processEventsUntil([&] { return view.startAtLoginBox()->isEnabled(); }));
  EXPECT_FALSE(view.startAtLoginBox()->isChecked());
  EXPECT_EQ(view.message(), "") << "a newer action that succeeds clears the line";
}

const QString notice = QStringLiteral(
    "Your old shortcut conflicted with other screenshot tools. Region capture now uses Shift+Super+2.");

QSettings store() { return QSettings(QStringLiteral("Lumacap"), QStringLiteral("Lumacap")); }
std::string storedShortcut() { return store().value("shortcut").toByteArray().toStdString(); }
std::filesystem::path settingsFile() { return store().fileName().toStdString(); }

// A launch keeps a valid stored shortcut as it is and replaces any other with
// the default: a missing or unreadable one silently, one that conflicted with
// other screenshot tools with a notice, once. The test main gives each test
// an empty settings folder.
TEST(SettingsManagerTest, LaunchKeepsAValidShortcutAndReplacesAnyOther) {
  const std::string valid =
      R"({"control":true,"keyCode":2,"keyLabel":"D","command":false,"shift":false,"option":false,"note":"kept"})";
  const std::tuple<std::optional<std::string>, Shortcut, QString> cases[] = {
      {std::nullopt, Shortcut::initial(), ""},
      {Shortcut{1, "S", true, true, false, false}.encoded(), Shortcut::initial(), notice},
      {"{\"keyCode\":19,\"keyLabel\":\"2\"", Shortcut::initial(), ""},
      {valid, Shortcut{2, "D", false, false, false, true}, ""},
  };
  for (const auto& [stored, shortcut, expectedNotice] : cases) {
    if (stored) store().setValue("shortcut", QByteArray::fromStdString(*stored));
    SettingsManager settings;
    EXPECT_EQ(settings.shortcut(), shortcut);
    EXPECT_EQ(settings.shortcutMigrationNotice(), expectedNotice);
    EXPECT_EQ(Shortcut::decoded(storedShortcut()), shortcut);
    EXPECT_TRUE(SettingsManager().shortcutMigrationNotice().isEmpty()) << "the notice is given once";
    EXPECT_EQ(test::permissionsOf(settingsFile()), 0600u);
    EXPECT_EQ(test::permissionsOf(settingsFile().parent_path()), 0700u);
  }
  EXPECT_EQ(storedShortcut(), valid) << "a valid value is left as it was";
  EXPECT_EQ(SettingsManager().shortcutLabel(), QStringLiteral("Ctrl+D"));
}

TEST(SettingsManagerTest, AssigningStoresAndAnnouncesTheShortcut) {
  SettingsManager settings;
  int changes = 0;
  QObject::connect(&settings, &SettingsManager::shortcutChanged, [&changes] { ++changes; });
  const Shortcut optionS{1, "S", false, false, true, false};
  settings.setShortcut(optionS);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(settings.shortcut(), optionS);
  settings.setShortcut(optionS);
  EXPECT_EQ(changes, 1) << "an unchanged value is not announced again";
  EXPECT_EQ(SettingsManager().shortcut(), optionS);
  EXPECT_EQ(test::permissionsOf(settingsFile()), 0600u);
}

// Agents' access is read without Qt by `lumacap mcp`, from the same file.
TEST_F(PreferencesViewTest, PrivacySwitchesAreOnUntilTurnedOffAndStayOff) {
  PreferencesView& view = open();
  const test::ScopedEnvironment config{
      {"XDG_CONFIG_HOME", settingsFile().parent_path().parent_path().string()}};
  ASSERT_EQ(UserSettings::file(), settingsFile());
  EXPECT_EQ(view.lookForSecretsBox()->text(), "Look for secrets in captures");
  for (QCheckBox* box : {view.lookForSecretsBox(), view.agentsMayReadBox()}) {
    EXPECT_TRUE(box->isChecked());
    box->click();
  }
  EXPECT_FALSE(harness.settings->lookForSecrets());
  EXPECT_FALSE(SettingsManager().lookForSecrets());
  EXPECT_FALSE(UserSettings::agentsMayReadCaptures());
  view.hide();
  view.show();
  EXPECT_FALSE(view.lookForSecretsBox()->isChecked());
  EXPECT_FALSE(view.agentsMayReadBox()->isChecked());
}

}  // namespace
}  // namespace lumacap
