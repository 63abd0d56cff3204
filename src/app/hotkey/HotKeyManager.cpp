#include "app/hotkey/HotKeyManager.h"

#include "core/DesktopBackend.h"

namespace lumacap {

HotKeyManager::HotKeyManager(std::unique_ptr<HotKeyService> service) : service_(std::move(service)) {
  // The service owns the queued presses and drops them when it goes, so
  // `this` is never used after the manager is destroyed.
  service_->setPressHandler([this] {
    if (action_) action_();
  });
  service_->setFailureHandler([this](int status) {
    registered_.reset();
    if (lateFailure_) lateFailure_(ShortcutError::ofGrab(status));
  });
}

ShortcutError ShortcutError::ofGrab(int status) {
  switch (status) {
    case HotKeyService::notOnThisDesktop:
      return ShortcutError(status, shortcutUnavailableText);
    case HotKeyService::noAnswer:
      return ShortcutError(status, noAnswerDescription);
    default:
      return ShortcutError(status, unavailableDescription);
  }
}

HotKeyManager::~HotKeyManager() { unregisterShortcut(); }

void HotKeyManager::registerShortcut(const Shortcut& shortcut) {
  if (auto message = shortcut.validationMessage()) throw ShortcutError(ShortcutError::invalidCode, *message);
  unregisterShortcut();
  if (int status = service_->grab(shortcut); status != 0) throw ShortcutError::ofGrab(status);
  registered_ = shortcut;
}

void HotKeyManager::unregisterShortcut() {
  if (!registered_) return;
  service_->release();
  registered_.reset();
}

}  // namespace lumacap
