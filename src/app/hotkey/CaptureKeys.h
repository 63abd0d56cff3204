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

class SettingsManager;

// The optional keys for the other kinds of capture beside the region key:
// Capture Window…, Capture Display and the last region again. Each is a hot
// key of its own, validated and registered as the region key is, where this
// desktop lets Lumacap hold keys itself (X11). Elsewhere there are none: the
// desktop's own keyboard settings can run `lumacap --action=…` instead.
class CaptureKeys {
 public:
  static constexpr std::array<CaptureMode, 3> modes = {CaptureMode::window, CaptureMode::display,
                                                       CaptureMode::lastRegion};
  // Makes the hot-key service of one key; none where Lumacap holds no keys
  // but the region key.
  using ServiceFactory = std::function<std::unique_ptr<HotKeyService>()>;

  CaptureKeys(ServiceFactory makeService, SettingsManager& settings);
  ~CaptureKeys();

  bool available() const { return static_cast<bool>(makeService_); }
  // What a press of a mode's key runs.
  void setAction(std::function<void(CaptureMode)> action) { action_ = std::move(action); }

  // Registers the stored keys; why each that could not be failed.
  std::vector<std::string> registerStored();
  // Makes `shortcut` the key of `mode` (none: no key) and stores it. Throws
  // ShortcutError, the key in force staying, for an invalid combination, the
  // region key or another mode's key, or one another program holds.
  void set(CaptureMode mode, const std::optional<Shortcut>& shortcut);
  std::optional<Shortcut> registered(CaptureMode mode) const;

  // "Capture Window…", "Capture Display", "Capture Last Region Again".
  static std::string title(CaptureMode mode);
  // The action that asks for this kind of capture (`lumacap --action=…`, the desktop's actions).
  static std::string action(CaptureMode mode);

 private:
  HotKeyManager& manager(CaptureMode mode);

  ServiceFactory makeService_;
  SettingsManager& settings_;
  std::function<void(CaptureMode)> action_;
  std::map<CaptureMode, std::unique_ptr<HotKeyManager>> managers_;
};

}  // namespace lumacap
