#include "app/gui/AppDelegate.h"

#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QStandardPaths>
#include <QTimer>

#include "app/hotkey/CaptureKeys.h"
#include "app/hotkey/DesktopHotKey.h"
#include "app/hotkey/HotKeyManager.h"
#include "app/model/AppModel.h"
#include "app/model/SettingsManager.h"
#include "app/views/Symbols.h"

namespace lumacap {
namespace {

// The shortcut as the desktop names the key it assigned, where it said (the portal on KDE:
// "Meta+@"), else as Lumacap names it. After the tab it goes into the menu's own shortcut column
// (a desktop's menu importer does the same), aligned with the other keys, without a shortcut of the
// menu's own that could take the key.
QString regionItemTitle(const Shortcut& shortcut, const DesktopHotKey* desktopHotKey) {
  const std::optional<QString> assigned = desktopHotKey ? desktopHotKey->assignedTrigger() : std::nullopt;
  return QStringLiteral("Capture Region\t") + assigned.value_or(QString::fromStdString(shortcut.label()));
}

// The key Lumacap holds (or the desktop bound) for region captures, as the tray and the no-tray notice say
// it.
QString capturesARegion(const Shortcut& key) {
  return QString::fromStdString(key.label()) + QStringLiteral(" captures a region.");
}

// What the tray says on hover: what Lumacap is, how the capture shortcut reaches it on a Wayland
// desktop and, where the desktop keeps a feature from working, what does not work and what to do
// instead.
QString trayToolTip(const DesktopLimits& limits, const DesktopHotKey* desktopHotKey,
                    const std::optional<Shortcut>& held) {
  QString tip = QStringLiteral("Lumacap — visual context for your agents");
  if (const auto inForce = desktopHotKey ? desktopHotKey->inForceText() : std::nullopt)
    tip += QStringLiteral("\n\n") + *inForce;
  else if (!desktopHotKey && held)  // X11: the key Lumacap holds itself
    tip += QStringLiteral("\n\n") + capturesARegion(*held);
  for (const std::string& limit : limits.all()) tip += QStringLiteral("\n\n") + QString::fromStdString(limit);
  return tip;
}

}  // namespace

AppDelegate::AppDelegate(AppModel& model, ViewContext& context, HotKeyManager& hotKey, QObject* parent)
    : QObject(parent), model_(model), context_(context), hotKey_(hotKey) {}

AppDelegate::~AppDelegate() {
  if (context_.shortcuts == this) context_.shortcuts = nullptr;
  hotKey_.setAction({});
  hotKey_.setLateFailureAction({});
}

void AppDelegate::applicationDidFinishLaunching() {
  statusItem_.setIcon(symbolIcon(Symbol::viewfinder, Qt::black));
  renderToolTip();
  buildStatusMenu();
  if (DesktopHotKey* desktopHotKey = context_.desktopHotKey)
    connect(desktopHotKey, &DesktopHotKey::changed, this, [this] {
      renderToolTip();
      if (captureItem_)
        captureItem_->setText(regionItemTitle(context_.settings.shortcut(), context_.desktopHotKey));
    });
  statusItem_.setContextMenu(&statusMenu_);
  // A tray icon is clicked with the left button as often as the right one:
  // both open the menu.
  connect(&statusItem_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) statusMenu_.popup(QCursor::pos());
  });
  // X11's tray icon docks whenever a tray appears. On Wayland there is only
  // the desktop's StatusNotifier tray: without one Qt would fall back on an
  // X11 icon that cannot work there (and warn), so the icon waits for it.
  if (QGuiApplication::platformName() != QLatin1String("wayland")) statusItem_.show();

  // Read before the hot key can leave its own error there: each problem of
  // the launch is shown once.
  const std::optional<QString> startupError = model_.error();
  hotKey_.setAction([model = QPointer<AppModel>(&model_)] {
    if (model) model->capture(CaptureMode::region);
  });
  // Where the desktop answers later (the portal), its refusal or silence is told when it comes.
  // A changed shortcut that the desktop refuses later gives way to the one in force before it.
  hotKey_.setLateFailureAction([this, self = QPointer<AppDelegate>(this)](const ShortcutError& failure) {
    if (!self) return;
    if (const std::optional<Shortcut> previous = std::exchange(shortcutBeforeChange_, std::nullopt)) {
      try {
        context_.settings.setShortcut(*previous);
        hotKey_.registerShortcut(*previous);
      } catch (const std::exception&) {
        // The refusal below is what the user needs to hear about.
      }
    }
    renderToolTip();
    model_.presentError(failure);
  });
  registerStoredShortcut();
  if (CaptureKeys* keys = context_.captureKeys) {
    keys->setAction([model = QPointer<AppModel>(&model_)](CaptureMode mode) {
      if (model) model->capture(mode);
    });
    keys->setLateFailure([model = QPointer<AppModel>(&model_)](const std::string& failure) {
      if (model) model->presentError(QString::fromStdString(failure));
    });
    for (const std::string& failure : keys->registerStored())
      model_.presentError(QString::fromStdString(failure));
  }
  context_.shortcuts = this;
  watchTray();
  if (startupError) model_.presentError(*startupError);
}

// Without a system tray the icon has nowhere to appear: say so once, with
// what still reaches Lumacap, and let its windows offer what the menu would.
// Not when the user already reached Lumacap without the tray (a desktop's
// shortcut or launcher started it, or asked it for an action, before the
// tray's grace ended): they know the way, and the notice would come up with
// the focus seconds after a capture, taking the keys from the window they
// went back to (desktops give a new window the focus).
void AppDelegate::watchTray() {
  connect(&trayAvailability_, &TrayAvailability::available, this, [this] {
    statusItem_.show();
    noteFirstStart(true);
  });
  connect(&trayAvailability_, &TrayAvailability::unavailable, this, [this] {
    model_.setTrayAvailable(false);
    if (reachedWithoutTray_) return;
    const bool entryInstalled = !QStandardPaths::locate(QStandardPaths::ApplicationsLocation,
                                                        QStringLiteral("org.lumacap.Lumacap.desktop"))
                                     .isEmpty();
    trayMissingNotice_ = std::make_unique<TrayMissingNotice>(whatTheKeyDoes(), entryInstalled);
    trayMissingNotice_->show();
    noteFirstStart(false);
  });
  trayAvailability_.start();
}

// The first start says once where Lumacap lives and how to capture: the tray's message where there
// is a tray (the no-tray notice says both where there is none). Remembered in the settings, so that
// later starts stay quiet.
void AppDelegate::noteFirstStart(bool trayShown) {
  SettingsManager& settings = context_.settings;
  if (settings.firstStartNoticeShown()) return;
  if (trayShown) {
    firstStartNotice_ =
        QStringLiteral("Lumacap lives in the tray: its icon opens the menu. ") + whatTheKeyDoes();
    showFirstStartMessage(std::chrono::milliseconds(2000));
  }
  try {
    settings.setFirstStartNoticeShown();
  } catch (const std::exception&) {
    // Settings that cannot be written were reported at start; the notice comes again next time.
  }
}

// An X11 tray docks the icon a moment after it is shown: until then the icon stands at the screen's
// origin, and a message shown then points at that corner, far from the icon (where a click on the
// icon is the user's next step). It waits for the icon's place, at most as long as given.
void AppDelegate::showFirstStartMessage(std::chrono::milliseconds patience) {
  const QRect icon = statusItem_.geometry();
  const bool undocked = !icon.isEmpty() && icon.topLeft().isNull();
  if (undocked && patience.count() > 0) {
    constexpr std::chrono::milliseconds step(50);
    QTimer::singleShot(step, this, [this, patience, step] { showFirstStartMessage(patience - step); });
    return;
  }
  statusItem_.showMessage(QStringLiteral("Lumacap is running"), firstStartNotice_);
}

void AppDelegate::perform(const QString& action, int delay) {
  reachedWithoutTray_ = true;  // (it matters only before the tray is found missing)
  for (const CaptureMode mode :
       {CaptureMode::region, CaptureMode::window, CaptureMode::display, CaptureMode::lastRegion}) {
    if (action.toStdString() != CaptureKeys::action(mode)) continue;
    if (delay > 0) {
      model_.delayedCapture().start(mode, delay);
    } else {
      model_.capture(mode);
    }
    return;
  }
  if (action == "history") model_.showHistory();
  if (action == "settings") model_.showSettings();
}

void AppDelegate::buildStatusMenu() {
  statusMenu_.addAction(QStringLiteral("Lumacap"))->setEnabled(false);
  statusMenu_.addSeparator();
  captureItem_ = statusMenu_.addAction(regionItemTitle(context_.settings.shortcut(), context_.desktopHotKey),
                                       this, [this] { model_.capture(CaptureMode::region); });
  QAction* windowItem = statusMenu_.addAction(QStringLiteral("Capture Window…"), this,
                                              [this] { model_.capture(CaptureMode::window); });
  if (const auto& chooser = context_.desktopLimits.windowChooser) {
    windowItem->setToolTip(QString::fromStdString(*chooser));
  } else if (const auto& none = context_.desktopLimits.windows) {
    // No list to choose from and no dialog of the desktop's: not offered, and the item says why.
    windowItem->setEnabled(false);
    windowItem->setToolTip(QString::fromStdString(*none));
  }
  statusMenu_.addAction(QStringLiteral("Capture Display"), this,
                        [this] { model_.capture(CaptureMode::display); });
  statusMenu_
      .addAction(QStringLiteral("Capture Last Region Again"), this,
                 [this] { model_.capture(CaptureMode::lastRegion); })
      ->setToolTip(QStringLiteral("The same size and place on the same display, without the overlay"));
  addDelayMenu();
  statusMenu_.addSeparator();
  lastCaptureItem_ = statusMenu_.addAction(QStringLiteral("Last Capture…"), &model_, &AppModel::showPreview);
  statusMenu_.setToolTipsVisible(true);
  connect(&model_, &AppModel::imageChanged, this, &AppDelegate::renderLastCaptureItem);
  renderLastCaptureItem();
  statusMenu_.addAction(QStringLiteral("Recent Captures…"), &model_, &AppModel::showHistory);
  // The keys shown here work in every Lumacap window (WindowKeys); the menu
  // only names them.
  QAction* settings = statusMenu_.addAction(QStringLiteral("Settings…"), &model_, &AppModel::showSettings);
  settings->setShortcut(WindowKeys::settings());
  statusMenu_.addSeparator();
  QAction* quit = statusMenu_.addAction(QStringLiteral("Quit Lumacap"), qApp, &QApplication::quit);
  quit->setShortcut(WindowKeys::quit());
  // (A tray menu is a context menu, whose shortcut column some desktops' themes leave out.)
  settings->setShortcutVisibleInContextMenu(true);
  quit->setShortcutVisibleInContextMenu(true);
}

// "Capture After a Delay": the three kinds of capture after the delay
// chosen below them (kept in the settings), with a countdown Esc cancels.
void AppDelegate::addDelayMenu() {
  countdown_ = std::make_unique<CountdownWindow>(model_.delayedCapture());
  QMenu* menu = statusMenu_.addMenu(QStringLiteral("Capture After a Delay"));
  for (CaptureMode mode : {CaptureMode::region, CaptureMode::window, CaptureMode::display}) {
    menu->addAction(QString::fromStdString(CaptureKeys::title(mode)), this,
                    [this, mode] { model_.delayedCapture().start(mode, context_.settings.captureDelay()); });
  }
  menu->addSeparator();
  auto* delays = new QActionGroup(menu);
  for (int seconds : DelayedCapture::choices) {
    QAction* choice = menu->addAction(QStringLiteral("After %1 Seconds").arg(seconds), this, [this, seconds] {
      try {
        context_.settings.setCaptureDelay(seconds);
      } catch (const std::exception& failure) {
        model_.presentError(failure);
      }
    });
    choice->setCheckable(true);
    choice->setData(seconds);
    delays->addAction(choice);
  }
  // Settings may have changed it meanwhile.
  connect(menu, &QMenu::aboutToShow, this, [this, delays] {
    for (QAction* choice : delays->actions())
      choice->setChecked(choice->data().toInt() == context_.settings.captureDelay());
  });
}

void AppDelegate::renderLastCaptureItem() {
  const bool inHand = !model_.image().isNull();
  lastCaptureItem_->setEnabled(inHand);
  lastCaptureItem_->setToolTip(inHand ? QString()
                                      : QStringLiteral("No capture in hand. Recent Captures… lists the saved "
                                                       "ones."));
}

QString AppDelegate::whatTheKeyDoes() const {
  const std::optional<Shortcut>& held = hotKey_.registeredShortcut();
  const DesktopHotKey* desktopHotKey = context_.desktopHotKey;
  if (desktopHotKey && desktopHotKey->mechanism() != HotKeyMechanism::portal) {
    if (const auto text = desktopHotKey->inForceText()) return *text;  // bound, or how to bind it
  }
  if (held) return capturesARegion(*held);
  return QStringLiteral("No capture key works yet: choose one in Lumacap’s Settings.");
}

void AppDelegate::renderToolTip() {
  statusItem_.setToolTip(
      trayToolTip(context_.desktopLimits, context_.desktopHotKey, hotKey_.registeredShortcut()));
}

void AppDelegate::registerStoredShortcut() {
  try {
    hotKey_.registerShortcut(context_.settings.shortcut());
  } catch (const ShortcutError& failure) {
    // A desktop without global shortcuts is no error of this start: Settings and the tray say it.
    if (failure.code() != HotKeyService::notOnThisDesktop) model_.presentError(failure);
  }
  renderToolTip();
}

// Settings makes its shortcut the capture key through here.
void AppDelegate::registerShortcut(const Shortcut& shortcut) {
  const Shortcut previous = context_.settings.shortcut();
  try {
    hotKey_.registerShortcut(shortcut);
  } catch (const ShortcutError& failure) {
    // Where the desktop's own binding runs the capture, that binding follows the stored shortcut.
    if (failure.code() == HotKeyService::notOnThisDesktop && desktopBindsKeys()) return;
    try {
      hotKey_.registerShortcut(previous);
    } catch (const ShortcutError&) {
      // The first failure is the one the user needs to hear about.
    }
    throw;
  }
  shortcutBeforeChange_ = previous;
  if (captureItem_) captureItem_->setText(regionItemTitle(shortcut, context_.desktopHotKey));
  renderToolTip();
}

bool AppDelegate::desktopBindsKeys() const {
  const DesktopHotKey* desktopHotKey = context_.desktopHotKey;
  return desktopHotKey && (desktopHotKey->mechanism() == HotKeyMechanism::gnomeKeybinding ||
                           desktopHotKey->mechanism() == HotKeyMechanism::compositorLine);
}

bool AppDelegate::reopen() {
  if (model_.busy()) return false;
  if (!model_.image().isNull()) {
    model_.showPreview();
  } else {
    model_.showHistory();
  }
  return true;
}

}  // namespace lumacap
