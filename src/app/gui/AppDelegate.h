#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <chrono>
#include <memory>
#include <optional>

#include "app/gui/TrayAvailability.h"
#include "app/model/ViewContext.h"
#include "app/views/CountdownWindow.h"
#include "app/views/TrayMissingNotice.h"
#include "app/views/WindowKeys.h"
#include "core/Shortcut.h"

namespace lumacap {

class AppModel;
class HotKeyManager;

// The application's shell: the tray icon with its menu and the global hot
// key. Every command ends in an operation of the model; the delegate owns no
// capture logic of its own.
class AppDelegate final : public QObject, public ShortcutRegistration {
  Q_OBJECT

 public:
  AppDelegate(AppModel& model, ViewContext& context, HotKeyManager& hotKey, QObject* parent = nullptr);
  ~AppDelegate() override;

  // Builds the tray menu, registers the hot key and tells the user about a
  // failed start (a hot key that cannot be taken, a history that cannot be
  // read).
  void applicationDidFinishLaunching();

  // The user started Lumacap again while it runs: nothing while a capture
  // runs, else the preview of the capture in hand, else Recent Captures.
  // Answers whether it acted.
  bool reopen();
  // A command from the desktop (a launcher's action, a key binding): a
  // capture's action (CaptureKeys::action), "history" or "settings"; a
  // capture comes after a countdown of `delay` seconds when above 0.
  void perform(const QString& action, int delay = 0);

  // Makes `shortcut` the capture key; a refusal leaves the one before in force.
  void registerShortcut(const Shortcut& shortcut) override;

  QSystemTrayIcon& statusItem() { return statusItem_; }
  // What the capture key does on this desktop now: the key where it is bound, else how to bind it.
  QString whatTheKeyDoes() const;
  QMenu& statusMenu() { return statusMenu_; }
  QAction* captureItem() const { return captureItem_; }
  QAction* lastCaptureItem() const { return lastCaptureItem_; }
  TrayAvailability& trayAvailability() { return trayAvailability_; }
  // The message of the first start, where this start showed it; else empty.
  const QString& firstStartNotice() const { return firstStartNotice_; }
  TrayMissingNotice* trayMissingNotice() const { return trayMissingNotice_.get(); }

 private:
  void buildStatusMenu();
  void registerStoredShortcut();
  void renderToolTip();
  // A GNOME keybinding or a compositor's configuration runs the capture, not a grab of Lumacap's.
  bool desktopBindsKeys() const;
  // "Last Capture…" opens the preview of the capture in hand; without one it
  // is disabled and its tooltip says why.
  void renderLastCaptureItem();
  void addDelayMenu();
  void watchTray();
  void noteFirstStart(bool trayShown);
  void showFirstStartMessage(std::chrono::milliseconds patience);

  AppModel& model_;
  ViewContext& context_;
  HotKeyManager& hotKey_;
  QMenu statusMenu_;
  QSystemTrayIcon statusItem_;
  QPointer<QAction> captureItem_;
  QAction* lastCaptureItem_ = nullptr;
  TrayAvailability trayAvailability_;
  std::unique_ptr<TrayMissingNotice> trayMissingNotice_;
  // A desktop's shortcut, launcher or command reached Lumacap before the tray was found missing.
  bool reachedWithoutTray_ = false;
  std::unique_ptr<CountdownWindow> countdown_;
  WindowKeys windowKeys_{model_};
  // The shortcut a change replaced, until the desktop has had its say on the new one.
  std::optional<Shortcut> shortcutBeforeChange_;
  QString firstStartNotice_;
};

}  // namespace lumacap
