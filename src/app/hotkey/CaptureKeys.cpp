#include "app/hotkey/CaptureKeys.h"

#include "app/hotkey/DesktopHotKey.h"
#include "app/model/SettingsManager.h"
#include "core/DesktopBackend.h"

namespace lumacap {

CaptureKeys::CaptureKeys(ServiceFactory makeService, SettingsManager& settings, const DesktopHotKey* desktop)
    : makeService_(std::move(makeService)), settings_(settings), desktop_(desktop) {}

CaptureKeys::~CaptureKeys() = default;

std::string CaptureKeys::title(CaptureMode mode) {
  switch (mode) {
    case CaptureMode::window:
      return "Capture Window…";
    case CaptureMode::display:
      return "Capture Display";
    case CaptureMode::lastRegion:
      return "Capture Last Region Again";
    case CaptureMode::region:
      break;
  }
  return "Capture Region";
}

std::string CaptureKeys::action(CaptureMode mode) {
  switch (mode) {
    case CaptureMode::window:
      return "capture-window";
    case CaptureMode::display:
      return "capture-display";
    case CaptureMode::lastRegion:
      return "capture-last-region";
    case CaptureMode::region:
      break;
  }
  return "capture-region";
}

HotKeyManager& CaptureKeys::manager(CaptureMode mode) {
  std::unique_ptr<HotKeyManager>& manager = managers_[mode];
  if (!manager) {
    manager = std::make_unique<HotKeyManager>(makeService_(mode));
    manager->setAction([this, mode] {
      if (action_) action_(mode);
    });
    manager->setLateFailureAction([this, mode](const ShortcutError& failure) {
      if (lateFailure_) lateFailure_(title(mode) + ": " + failure.what());
    });
  }
  return *manager;
}

std::optional<Shortcut> CaptureKeys::registered(CaptureMode mode) const {
  const auto found = managers_.find(mode);
  return found == managers_.end() ? std::nullopt : found->second->registeredShortcut();
}

std::optional<Shortcut> CaptureKeys::key(CaptureMode mode) const {
  if (std::optional<Shortcut> held = registered(mode)) return held;
  return desktop_ && desktop_->bindsKeysItself() ? settings_.captureKey(mode) : std::nullopt;
}

std::vector<std::string> CaptureKeys::registerStored() {
  std::vector<std::string> failures;
  if (!available()) return failures;
  for (CaptureMode mode : modes) {
    const std::optional<Shortcut> stored = settings_.captureKey(mode);
    if (!stored) continue;
    try {
      manager(mode).registerShortcut(*stored);
    } catch (const ShortcutError& failure) {
      // Where the desktop binds keys itself, its binding runs the capture.
      if (failure.code() != HotKeyService::notOnThisDesktop)
        failures.push_back(title(mode) + ": " + failure.what());
    }
  }
  return failures;
}

void CaptureKeys::set(CaptureMode mode, const std::optional<Shortcut>& shortcut) {
  if (shortcut) {
    if (!available()) throw ShortcutError(HotKeyService::notOnThisDesktop, shortcutUnavailableText);
    if (auto message = shortcut->validationMessage())
      throw ShortcutError(ShortcutError::invalidCode, *message);
    const auto taken = [&](CaptureMode other) {
      return other == CaptureMode::region ? settings_.shortcut() == *shortcut
                                          : other != mode && key(other) == shortcut;
    };
    for (CaptureMode other :
         {CaptureMode::region, CaptureMode::window, CaptureMode::display, CaptureMode::lastRegion}) {
      if (taken(other))
        throw ShortcutError(ShortcutError::invalidCode,
                            shortcut->label() + " is already the key for " + title(other) + ".");
    }
    const std::optional<Shortcut> previous = registered(mode);
    try {
      manager(mode).registerShortcut(*shortcut);
    } catch (const ShortcutError& failure) {
      const bool desktopBinds =
          failure.code() == HotKeyService::notOnThisDesktop && desktop_ && desktop_->bindsKeysItself();
      if (!desktopBinds) {
        if (previous) manager(mode).registerShortcut(*previous);
        throw;
      }
    }
  } else if (managers_.contains(mode)) {
    managers_[mode]->unregisterShortcut();
  }
  settings_.setCaptureKey(mode, shortcut);
}

}  // namespace lumacap
