#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/hotkey/HotKeyManager.h"
#include "core/CaptureError.h"
#include "core/Shortcut.h"

namespace lumacap {

class DesktopHotKey;
class SettingsManager;

// The optional keys for the other kinds of capture beside the region key:
// Capture Window…, Capture Display and the last region again. Each is a hot
// key of its own, validated and registered as the region key is: an X11 grab,
// a key of the GlobalShortcuts portal's session. Where the desktop binds keys
// itself (a GNOME keybinding, a compositor's line), a key is kept in Settings
// and the desktop's binding runs `lumacap --action=…` (see DesktopHotKey).
class CaptureKeys {
 public:
  static constexpr std::array<CaptureMode, 3> modes = {CaptureMode::window, CaptureMode::display,
                                                       CaptureMode::lastRegion};
  // Makes the hot-key service of one mode's key; none where Lumacap holds no
  // keys but the region key.
  using ServiceFactory = std::function<std::unique_ptr<HotKeyService>(CaptureMode)>;

  // `desktop`, where given, says whether the desktop binds the keys itself.
  CaptureKeys(ServiceFactory makeService, SettingsManager& settings, const DesktopHotKey* desktop = nullptr);
  ~CaptureKeys();

  bool available() const { return static_cast<bool>(makeService_); }
  // What a press of a mode's key runs.
  void setAction(std::function<void(CaptureMode)> action) { action_ = std::move(action); }
  // What runs, with the sentence to show, when the desktop refuses a key after it was accepted for
  // now (the portal answers later); that key is then not registered.
  void setLateFailure(std::function<void(const std::string&)> told) { lateFailure_ = std::move(told); }

  // Registers the stored keys; why each that could not be failed.
  std::vector<std::string> registerStored();
  // Makes `shortcut` the key of `mode` (none: no key) and stores it. Throws
  // ShortcutError, the key in force staying, for an invalid combination, the
  // region key or another mode's key, or one another program holds.
  void set(CaptureMode mode, const std::optional<Shortcut>& shortcut);
  std::optional<Shortcut> registered(CaptureMode mode) const;
  // The key in force: the one registered, or where the desktop binds keys, the one stored.
  std::optional<Shortcut> key(CaptureMode mode) const;
  const DesktopHotKey* desktop() const { return desktop_; }

  // "Capture Window…", "Capture Display", "Capture Last Region Again".
  static std::string title(CaptureMode mode);
  // The action that asks for this kind of capture (`lumacap --action=…`, the desktop's actions).
  static std::string action(CaptureMode mode);

 private:
  HotKeyManager& manager(CaptureMode mode);

  ServiceFactory makeService_;
  SettingsManager& settings_;
  const DesktopHotKey* desktop_;
  std::function<void(CaptureMode)> action_;
  std::function<void(const std::string&)> lateFailure_;
  std::map<CaptureMode, std::unique_ptr<HotKeyManager>> managers_;
};

}  // namespace lumacap
