// The tray application: its delegate and menu, the hot-key manager, and the
// notice for desktops without a tray.
#include "app/gui/AppDelegate.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include "app/hotkey/CaptureKeys.h"
#include "app/hotkey/DesktopHotKey.h"
#include "app/hotkey/HotKeyManager.h"
#include "app/model/SettingsManager.h"
#include "app/views/CaptureKeysPanel.h"
#include "app/views/DesktopHotKeyPanel.h"
#include "app/views/TrayMissingNotice.h"
#include "platform/fake/FakeHotKeyService.h"
#include "platform/wayland/UnavailableHotKeyService.h"
#include "support/ModelHarness.h"
#include "support/ScopedEnvironment.h"
#include "support/StoppedPeer.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using test::awaitTask;

class AppDelegateTest : public ::testing::Test {
 protected:
  AppDelegate& launch() {
    model = &harness.start();
    auto service = std::make_unique<FakeHotKeyService>();
    hotKeys = service.get();
    if (takenElsewhere) hotKeys->holdElsewhere(*takenElsewhere, refusal);
    hotKey = std::make_unique<HotKeyManager>(std::move(service));
    delegate = std::make_unique<AppDelegate>(*model, *harness.context, *hotKey);
    delegate->applicationDidFinishLaunching();
    return *delegate;
  }

  QStringList menuTitles() {
    QStringList titles;
    for (QAction* action : delegate->statusMenu().actions()) {
      titles << (action->isSeparator() ? "—" : action->text() + (action->isEnabled() ? "" : " (disabled)"));
    }
    return titles;
  }

  QAction* item(const QString& title) {
    for (QAction* action : delegate->statusMenu().actions()) {
      if (action->text() == title) return action;
    }
    return nullptr;
  }

  test::ModelHarness harness;
  std::optional<Shortcut> takenElsewhere;
  int refusal = 10;  // X11's BadAccess
  AppModel* model = nullptr;
  FakeHotKeyService* hotKeys = nullptr;
  std::unique_ptr<HotKeyManager> hotKey;
  std::unique_ptr<AppDelegate> delegate;  // last: goes first
};

// The keys stand in the menu's own shortcut column (after the tab), aligned.
TEST_F(AppDelegateTest, TrayMenuListsTheCommandsInOrderWithTheirKeysInTheShortcutColumn) {
  harness.desktopLimits.windowChooser = "Opens GNOME’s screenshot dialog: choose the window there.";
  launch();
  EXPECT_EQ(menuTitles(),
            (QStringList{"Lumacap (disabled)", "—", "Capture Region\tShift+Super+2", "Capture Window…",
                         "Capture Display", "Capture Last Region Again", "Capture After a Delay", "—",
                         "Last Capture… (disabled)", "Recent Captures…", "Settings…", "—", "Quit Lumacap"}));
  EXPECT_EQ(item("Settings…")->shortcut(), QKeySequence("Ctrl+,"));
  EXPECT_EQ(item("Quit Lumacap")->shortcut(), QKeySequence("Ctrl+Q"));
  EXPECT_TRUE(item("Quit Lumacap")->isShortcutVisibleInContextMenu());
  EXPECT_EQ(item("Capture Window…")->toolTip(), "Opens GNOME’s screenshot dialog: choose the window there.");
}

// "Last Capture…" needs a capture in hand and says so; starting Lumacap again
// opens the preview, or Recent Captures when there is none.
TEST_F(AppDelegateTest, LastCaptureAndReopenOpenThePreviewOrTheHistory) {
  launch();
  QAction& lastCapture = *delegate->lastCaptureItem();
  EXPECT_FALSE(lastCapture.isEnabled());
  EXPECT_EQ(lastCapture.toolTip(), "No capture in hand. Recent Captures… lists the saved ones.");
  EXPECT_TRUE(delegate->reopen());
  ASSERT_TRUE(harness.windows->historyWindow());
  EXPECT_TRUE(harness.windows->historyWindow()->isVisible());
  EXPECT_FALSE(harness.windows->previewWindow());

  awaitTask(model->capture(CaptureMode::display));
  EXPECT_TRUE(lastCapture.isEnabled());
  EXPECT_FALSE(lastCapture.toolTip().startsWith("No capture"));
  lastCapture.trigger();
  EXPECT_TRUE(harness.windows->previewWindow()->isVisible());
  harness.windows->previewWindow()->hide();
  EXPECT_TRUE(delegate->reopen());
  EXPECT_TRUE(harness.windows->previewWindow()->isVisible());

  // While a capture runs, reopening does nothing.
  harness.windows->previewWindow()->hide();
  auto region = model->capture(CaptureMode::region);
  EXPECT_FALSE(delegate->reopen());
  EXPECT_FALSE(harness.windows->previewWindow()->isVisible());
  harness.cancelRegion();
  awaitTask(std::move(region));
}

TEST_F(AppDelegateTest, ShortcutChangeFollowsTheMenuOnlyWhenItTakes) {
  launch();
  const Shortcut withS{1, "S", true, false, false, true};
  delegate->registerShortcut(withS);
  EXPECT_EQ(delegate->captureItem()->text(), "Capture Region\tCtrl+Super+S");
  EXPECT_EQ(hotKeys->grabbed(), withS);

  const Shortcut taken{2, "D", true, true, false, false};
  hotKeys->holdElsewhere(taken, 10);
  harness.settings->setShortcut(withS);
  EXPECT_THROW(delegate->registerShortcut(taken), ShortcutError);
  EXPECT_EQ(delegate->captureItem()->text(), "Capture Region\tCtrl+Super+S");
  EXPECT_EQ(hotKeys->grabbed(), withS);  // the previous one is back

  // A desktop that refuses later (the portal) gets the previous one back too, stored and grabbed.
  delegate->registerShortcut(Shortcut::initial());
  harness.settings->setShortcut(Shortcut::initial());
  hotKeys->refuseLater(HotKeyService::noAnswer);
  EXPECT_EQ(harness.settings->shortcut(), withS);
  EXPECT_EQ(hotKeys->grabbed(), withS);
  EXPECT_EQ(harness.prompts.alerts.size(), 1u);
}

// The keys the tray menu names work in every window; Escape and Ctrl+W close
// those that lose nothing by closing.
TEST_F(AppDelegateTest, MenuKeysWorkInLumacapWindows) {
  launch();
  model->showHistory();
  QWidget& history = *harness.windows->historyWindow();
  QTest::keyClick(&history, Qt::Key_Comma, Qt::ControlModifier);
  ASSERT_TRUE(harness.windows->preferencesWindow());
  QWidget& settings = *harness.windows->preferencesWindow();
  EXPECT_TRUE(settings.isVisible());
  QTest::keyClick(&settings, Qt::Key_Escape);
  EXPECT_FALSE(settings.isVisible());
  EXPECT_TRUE(history.isVisible());
  QTest::keyClick(&history, Qt::Key_W, Qt::ControlModifier);
  EXPECT_FALSE(history.isVisible());

  awaitTask(model->capture(CaptureMode::display));
  model->showPreview();
  QTest::keyClick(harness.windows->previewWindow(), Qt::Key_Comma, Qt::ControlModifier);
  EXPECT_TRUE(settings.isVisible());
}

// The hot key starting a region capture is the real-X end-to-end tests'.
TEST_F(AppDelegateTest, LaunchProblemsAreEachShownOnce) {
  takenElsewhere = Shortcut::initial();
  harness.storeFails = true;
  launch();
  EXPECT_EQ(harness.prompts.alerts,
            (std::vector<QString>{ShortcutError::unavailableDescription,
                                  StoreError(StoreError::Kind::invalidIndex).what()}));
  EXPECT_EQ(delegate->whatTheKeyDoes(), "No capture key works yet: choose one in Lumacap’s Settings.");
  item("Capture Display")->trigger();  // the menu still works
  ASSERT_TRUE(test::processEventsUntil([&] { return !model->image().isNull(); }));
}

TEST_F(AppDelegateTest, ADesktopWithoutGlobalShortcutsIsNoLaunchErrorTheTooltipSaysIt) {
  takenElsewhere = Shortcut::initial();
  refusal = HotKeyService::notOnThisDesktop;
  DesktopFacts wayland;
  wayland.waylandDisplay = true;
  harness.desktopLimits = limitsOf(chooseBackend(wayland));
  launch();
  EXPECT_TRUE(harness.prompts.alerts.empty());
  const QString tip = delegate->statusItem().toolTip();
  EXPECT_TRUE(tip.startsWith(QStringLiteral("Lumacap — visual context for your agents\n\n")))
      << tip.toStdString();
  EXPECT_TRUE(tip.contains(QString::fromUtf8(shortcutUnavailableText))) << tip.toStdString();
  EXPECT_TRUE(tip.contains(QString::fromStdString(*harness.desktopLimits.windows))) << tip.toStdString();
  // No window list and no desktop dialog: Capture Window… is not offered, and says why.
  EXPECT_FALSE(item("Capture Window…")->isEnabled());
  EXPECT_EQ(item("Capture Window…")->toolTip().toStdString(), *harness.desktopLimits.windows);
}

std::string gsettingsGet(const QString& schema, const QString& key) {
  const std::string printed =
      test::runProcess({"gsettings", "get", schema.toStdString(), key.toStdString()}).standardOutput;
  return printed.substr(0, printed.find('\n'));
}

// GNOME without the portal: Settings adds Lumacap's GNOME keybinding on a click, a changed
// shortcut is kept and rewrites it, and the tooltip says which is in force. Each other kind's key
// gets a keybinding of its own, and a cleared key takes only its own away.
TEST_F(AppDelegateTest, OnGnomeSettingsAddsTheKeybindingAndAChangedShortcutRewritesIt) {
  test::TempDir home;
  test::ScopedEnvironment environment{{"GSETTINGS_BACKEND", "keyfile"},
                                      {"XDG_CONFIG_HOME", home.path().string()}};
  const QString ours =
      QString("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:") + gnomeKeybindingPath;
  if (QProcess::execute("gsettings", {"list-keys", ours}) != 0) GTEST_SKIP() << "no GNOME media-keys schema";
  takenElsewhere = Shortcut::initial();
  refusal = HotKeyService::notOnThisDesktop;
  DesktopHotKey::Setup setup = DesktopHotKey::Setup::of(HotKeyMechanism::gnomeKeybinding);
  setup.executable = "/usr/bin/lumacap";
  setup.gnome = std::make_unique<GnomeKeybinding>();
  harness.desktopHotKeySetup = std::move(setup);
  launch();
  EXPECT_TRUE(delegate->statusItem().toolTip().contains("add a GNOME keyboard shortcut"));
  EXPECT_TRUE(delegate->whatTheKeyDoes().contains("add a GNOME keyboard shortcut")) << "no key promised yet";

  model->showSettings();
  auto* panel = harness.windows->preferencesWindow()->findChild<DesktopHotKeyPanel*>();
  ASSERT_TRUE(panel);
  EXPECT_TRUE(panel->stepsLabel()->text().contains("“/usr/bin/lumacap --action=capture-region”"));
  std::ofstream(home / "gsettings") << "#!/bin/sh\n[ \"$1\" = get ] && mkdir \"$0.slept\" && sleep 2\n"
                                    << "PATH=${PATH#*:}; exec gsettings \"$@\"\n";
  std::filesystem::permissions(home / "gsettings", std::filesystem::perms::owner_all);
  environment.set("PATH", home.path().string() + ":" + std::getenv("PATH"));  // its first answer takes 2 s
  const test::GuiStallMeter meter;
  QTest::mouseClick(panel->addGnomeButton(), Qt::LeftButton);
  ASSERT_TRUE(test::processEventsUntil([&] { return panel->addGnomeButton()->isHidden(); }));
  EXPECT_LT(meter.longest(), std::chrono::milliseconds(500));  // served meanwhile: the stall would be 2 s
  EXPECT_FALSE(meter.servedFromNestedLoop());
  EXPECT_EQ(gsettingsGet(ours, "binding"), "'<Shift><Super>2'");
  EXPECT_EQ(gsettingsGet(ours, "command"), "'/usr/bin/lumacap --action=capture-region'");
  EXPECT_TRUE(delegate->statusItem().toolTip().contains(
      "Capture shortcut: Shift+Super+2 through a GNOME keyboard shortcut that runs Lumacap."));

  const Shortcut altSuper3{20, "3", true, false, true, false};
  delegate->registerShortcut(altSuper3);  // kept, though Lumacap grabs nothing itself
  harness.settings->setShortcut(altSuper3);
  EXPECT_TRUE(test::processEventsUntil([&] { return gsettingsGet(ours, "binding") == "'<Alt><Super>3'"; }));
  EXPECT_EQ(delegate->captureItem()->text(), "Capture Region\tAlt+Super+3");

  CaptureKeys keys([](CaptureMode) { return std::make_unique<UnavailableHotKeyService>(); },
                   *harness.settings, harness.desktopHotKey.get());
  keys.set(CaptureMode::window, Shortcut::fromLabel("Ctrl+Alt+3"));
  keys.set(CaptureMode::display, Shortcut::fromLabel("Ctrl+Alt+4"));
  const QString display = ours.chopped(1) + "-capture-display/",
                window = ours.chopped(1) + "-capture-window/";
  EXPECT_TRUE(
      test::processEventsUntil([&] { return gsettingsGet(display, "binding") == "'<Control><Alt>4'"; }));
  EXPECT_EQ(gsettingsGet(window, "command"), "'/usr/bin/lumacap --action=capture-window'");
  keys.set(CaptureMode::window, std::nullopt);  // its entry alone goes
  const std::string both =
      "['" + std::string(gnomeKeybindingPath) + "', '" + gnomeKeybindingPathFor("capture-display") + "']";
  EXPECT_TRUE(test::processEventsUntil([&] {
    return gsettingsGet("org.gnome.settings-daemon.plugins.media-keys", "custom-keybindings") == both;
  }));

  QTest::mouseClick(panel->removeGnomeButton(), Qt::LeftButton);
  ASSERT_TRUE(test::processEventsUntil([&] { return !panel->addGnomeButton()->isHidden(); }));
  EXPECT_EQ(gsettingsGet(ours, "binding"), "''");
  EXPECT_EQ(gsettingsGet(display, "binding"), "''");
  EXPECT_TRUE(delegate->statusItem().toolTip().contains("add a GNOME keyboard shortcut"));
}

// sway: Settings shows the line for sway's configuration with a Copy button, following the shortcut,
// and under the other kinds' keys the line for each key set.
TEST_F(AppDelegateTest, OnSwaySettingsShowsTheConfigurationLineToCopy) {
  takenElsewhere = Shortcut::initial();
  refusal = HotKeyService::notOnThisDesktop;
  DesktopHotKey::Setup setup = DesktopHotKey::Setup::of(HotKeyMechanism::compositorLine);
  setup.executable = "/opt/lumacap/lumacap";
  setup.compositor = ConfiguredCompositor::sway;
  harness.desktopHotKeySetup = std::move(setup);
  launch();
  EXPECT_TRUE(delegate->statusItem().toolTip().contains("sway binds keys in its own configuration"));
  CaptureKeys keys([](CaptureMode) { return std::make_unique<UnavailableHotKeyService>(); },
                   *harness.settings, harness.desktopHotKey.get());
  harness.context->captureKeys = &keys;
  model->showSettings();
  auto* keysPanel = harness.windows->preferencesWindow()->findChild<CaptureKeysPanel*>();
  keysPanel->field(CaptureMode::display)->setText("Ctrl+Alt+4");
  emit keysPanel->field(CaptureMode::display)->editingFinished();
  EXPECT_EQ(keysPanel->mechanism()->text(),
            "Add to ~/.config/sway/config, then reload sway:\n"
            "bindsym Ctrl+Mod1+4 exec /opt/lumacap/lumacap --action=capture-display");
  auto* panel = harness.windows->preferencesWindow()->findChild<DesktopHotKeyPanel*>();
  ASSERT_TRUE(panel);
  EXPECT_EQ(panel->lineLabel()->text(),
            "bindsym Shift+Mod4+2 exec /opt/lumacap/lumacap --action=capture-region");
  QTest::mouseClick(panel->copyButton(), Qt::LeftButton);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), panel->lineLabel()->text());

  const Shortcut ctrlAltS{1, "S", false, false, true, true};
  delegate->registerShortcut(ctrlAltS);
  harness.settings->setShortcut(ctrlAltS);
  EXPECT_EQ(panel->lineLabel()->text(),
            "bindsym Ctrl+Mod1+s exec /opt/lumacap/lumacap --action=capture-region");
}

// A path no line can carry (a line break would make the copied line two commands): Settings says
// why, and shows the line for a link to Lumacap instead.
TEST_F(AppDelegateTest, OnSwayAPathNoLineCanCarryGetsTheStepsInstead) {
  takenElsewhere = Shortcut::initial();
  refusal = HotKeyService::notOnThisDesktop;
  DesktopHotKey::Setup setup = DesktopHotKey::Setup::of(HotKeyMechanism::compositorLine);
  setup.executable = "/opt/x\nexec touch PWNED/lumacap";
  setup.compositor = ConfiguredCompositor::sway;
  harness.desktopHotKeySetup = std::move(setup);
  launch();
  model->showSettings();
  auto* panel = harness.windows->preferencesWindow()->findChild<DesktopHotKeyPanel*>();
  ASSERT_TRUE(panel);
  EXPECT_TRUE(panel->placeLabel()->text().startsWith(
      "Lumacap’s path holds a line break or another control character, which no line of sway’s"));
  EXPECT_TRUE(panel->placeLabel()->text().contains("Then add the line below to ~/.config/sway/config"));
  EXPECT_TRUE(panel->lineLabel()->text().endsWith("/.local/bin/lumacap --action=capture-region"));
  EXPECT_FALSE(panel->lineLabel()->text().contains("PWNED"));
}

// The first start alone (where the tray shows the icon) says where Lumacap lives and how to capture.
TEST_F(AppDelegateTest, OnX11TheTooltipAndTheFirstStartNameTheKeyItHolds) {
  launch();
  EXPECT_EQ(delegate->statusItem().toolTip(),
            QStringLiteral("Lumacap — visual context for your agents\n\nShift+Super+2 captures a region."));
  emit delegate->trayAvailability().available();
  EXPECT_EQ(delegate->firstStartNotice(),
            "Lumacap lives in the tray: its icon opens the menu. Shift+Super+2 captures a region.");
  delegate->registerShortcut(Shortcut{1, "S", true, false, false, true});
  EXPECT_TRUE(delegate->statusItem().toolTip().endsWith("Ctrl+Super+S captures a region."));
  delegate = std::make_unique<AppDelegate>(*model, *harness.context, *hotKey);
  delegate->applicationDidFinishLaunching();
  emit delegate->trayAvailability().available();
  EXPECT_EQ(delegate->firstStartNotice(), "");
}

// Without a tray the notice comes up with the focus once the grace ends: not when a shortcut or command
// already reached Lumacap (it would take the keys from the window the user went back to after a capture).
TEST_F(AppDelegateTest, TheNoTrayNoticeComesUnlessAShortcutReachedLumacapFirst) {
  launch();
  for (const bool reached : {false, true}) {
    delegate = std::make_unique<AppDelegate>(*model, *harness.context, *hotKey);
    delegate->applicationDidFinishLaunching();
    if (reached) delegate->perform("capture-display", 0);
    emit delegate->trayAvailability().unavailable();
    EXPECT_EQ(delegate->trayMissingNotice() && delegate->trayMissingNotice()->isVisible(), !reached);
  }
}

const Shortcut optionS{1, "S", false, false, true, false};
const Shortcut shiftSuperS{1, "S", true, true, false, false};

class HotKeyManagerTest : public ::testing::Test {
 protected:
  HotKeyManagerTest() {
    auto service = std::make_unique<FakeHotKeyService>();
    fake = service.get();
    manager = std::make_unique<HotKeyManager>(std::move(service));
    manager->setAction([this] { ++presses; });
  }

  FakeHotKeyService* fake = nullptr;
  std::unique_ptr<HotKeyManager> manager;
  int presses = 0;
};

// On which thread the action runs is HotKeyIntegrationTest's, on real X.
TEST_F(HotKeyManagerTest, PressesRunTheActionLater) {
  manager->registerShortcut(Shortcut::initial());
  EXPECT_EQ(fake->grabbed(), Shortcut::initial());

  fake->press(Shortcut::initial());
  fake->press(Shortcut::initial());
  EXPECT_EQ(presses, 0) << "the action must not run inside the platform's event handling";
  QCoreApplication::processEvents();
  EXPECT_EQ(presses, 2);
}

TEST_F(HotKeyManagerTest, PressWithoutActionIsIgnoredAndPendingPressesDieWithTheManager) {
  manager->registerShortcut(Shortcut::initial());
  manager->setAction(nullptr);
  fake->press(Shortcut::initial());
  QCoreApplication::processEvents();  // must not crash

  int late = 0;
  manager->setAction([&late] { ++late; });
  fake->press(Shortcut::initial());
  manager.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(late, 0);
}

TEST_F(HotKeyManagerTest, InvalidShortcutFailsBeforeTheRegistrationIsTouched) {
  manager->registerShortcut(optionS);
  const int grabsBefore = fake->grabCount();
  try {
    manager->registerShortcut(shiftSuperS);
    FAIL() << "expected a ShortcutError";
  } catch (const ShortcutError& error) {
    EXPECT_EQ(error.code(), 1);
    EXPECT_EQ(error.description(), *shiftSuperS.validationMessage());
  }
  EXPECT_EQ(fake->grabCount(), grabsBefore);
  EXPECT_EQ(fake->grabbed(), optionS);
  EXPECT_EQ(manager->registeredShortcut(), optionS);
}

// Another kind's key that the desktop refuses later (the portal answers late) is told with its
// kind, and is no key then.
TEST(CaptureKeysTest, ALateRefusalIsToldWithItsKindAndLeavesNoKey) {
  SettingsManager settings;
  FakeHotKeyService* fake = nullptr;
  CaptureKeys keys(
      [&](CaptureMode) {
        auto service = std::make_unique<FakeHotKeyService>();
        fake = service.get();
        return service;
      },
      settings);
  std::vector<std::string> told;
  keys.setLateFailure([&](const std::string& sentence) { told.push_back(sentence); });
  keys.set(CaptureMode::display, Shortcut::fromLabel("Ctrl+Alt+4"));
  fake->refuseLater(HotKeyService::refusedByDesktop);
  EXPECT_EQ(told, std::vector{"Capture Display: " + std::string(ShortcutError::unavailableDescription)});
  EXPECT_EQ(keys.key(CaptureMode::display), std::nullopt);
}

TEST(TrayMissingNoticeTest, SaysWhatTheKeyDoesNamesTheMenuEntryOnlyWhenInstalledAndClosesWithOK) {
  for (const bool installed : {false, true}) {
    TrayMissingNotice notice("Ctrl+Alt+S captures a region.", installed);
    QString text;
    for (const QLabel* label : notice.findChildren<QLabel*>()) text += label->text();
    EXPECT_TRUE(text.contains("Ctrl+Alt+S captures a region."));
    EXPECT_EQ(text.contains("entry in your desktop’s applications"), installed);
  }
  TrayMissingNotice notice("", true);
  notice.show();

  notice.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  EXPECT_FALSE(notice.isVisible());
}

}  // namespace
}  // namespace lumacap
