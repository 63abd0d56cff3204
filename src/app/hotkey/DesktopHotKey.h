#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "core/CaptureError.h"
#include "core/DesktopShortcut.h"
#include "platform/linux/GnomeKeybinding.h"

namespace lumacap {

class PortalHotKeyService;
class SettingsManager;

// How the capture shortcut reaches Lumacap on this desktop, for Settings, the tray's tooltip and
// menu; and, where the desktop binds keys itself, the desktop-side binding: Lumacap's GNOME custom
// keybinding (added on the user's request, then kept in step with the shortcut) or the line for
// the compositor's configuration.
class DesktopHotKey final : public QObject {
  Q_OBJECT

 public:
  struct Setup {
    HotKeyMechanism mechanism = HotKeyMechanism::none;
    // What is in force once the portal refuses a session (mechanism portal only).
    HotKeyMechanism fallback = HotKeyMechanism::none;
    std::optional<ConfiguredCompositor> compositor;  // for compositorLine (as the fallback too)
    std::string executable;                          // the absolute path a desktop binding runs
    PortalHotKeyService* portal = nullptr;           // for the key the desktop assigned
    std::unique_ptr<GnomeKeybinding> gnome;          // for gnomeKeybinding (as the fallback too)

    static Setup of(HotKeyMechanism mechanism) {
      Setup setup;
      setup.mechanism = mechanism;
      return setup;
    }
  };
  DesktopHotKey(Setup setup, SettingsManager& settings);
  ~DesktopHotKey() override;

  HotKeyMechanism mechanism() const { return setup_.mechanism; }
  // Whether the desktop's own binding runs the captures (a GNOME keybinding, a compositor's line).
  bool bindsKeysItself() const {
    return mechanism() == HotKeyMechanism::gnomeKeybinding || mechanism() == HotKeyMechanism::compositorLine;
  }
  // What Settings and the tray say about the shortcut in force; nothing on X11.
  std::optional<QString> inForceText() const;
  // The shortcut as the desktop names the key it assigned (the portal's answer), when it said.
  std::optional<QString> assignedTrigger() const;

  // GNOME: whether Lumacap's keybinding is there (false until gsettings has answered); adding (or
  // rewriting) and removing it. gsettings runs on a worker, one request at a time (a request made
  // meanwhile replaces the one waiting); changed() follows its answer, failed() gives the reason.
  bool gnomeKeybindingAdded() const { return gnomeAdded_; }
  void addGnomeKeybinding();
  void removeGnomeKeybinding();
  QString gnomeManualSteps() const;

  // wlroots: the line for the compositor's configuration, and where it goes. When Lumacap's path
  // cannot be written in such a line, why and what to do instead, and the line for a link to
  // Lumacap from ~/.local/bin (empty when there can be none either).
  QString configurationLine() const;
  QString configurationPlace() const;
  std::optional<QString> configurationRefusal() const;

  // What Settings says under the keys of the other kinds of capture: which mechanism holds them
  // and, on wlroots, the line for each key set (one a line); nothing on X11.
  std::optional<QString> captureKeysText() const;

 signals:
  void changed();
  void failed(const QString& reason);

 private:
  enum class GnomeWork { check, write, remove };
  std::string command() const;
  void followCaptureKeys();
  void followShortcut();
  void runGnome(GnomeWork work);

  Setup setup_;
  SettingsManager& settings_;
  bool gnomeAdded_ = false;
  std::optional<GnomeWork> gnomeRunning_, gnomeWaiting_;
};

}  // namespace lumacap
