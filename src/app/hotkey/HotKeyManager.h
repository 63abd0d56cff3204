#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/ProgramError.h"
#include "core/Shortcut.h"
#include "platform/HotKeyService.h"

namespace lumacap {

// Why a shortcut could not become the global hot key, as the user is told:
// code 1 with the shortcut's validation message, or the window system's error
// code with the "in use or unavailable" text.
class ShortcutError : public ProgramError {
 public:
  static constexpr const char* domain = "Lumacap.Shortcut";
  static constexpr int invalidCode = 1;
  static constexpr const char* unavailableDescription =
      "This shortcut is in use or unavailable. Choose another combination.";
  static constexpr const char* noAnswerDescription =
      "The desktop’s shortcut service did not answer, so the capture shortcut is not set. Choose it "
      "again in Settings to retry; Capture Region in the tray menu works meanwhile.";

  ShortcutError(int code, const std::string& description) : ProgramError(description), code_(code) {}
  // The failure of a hot-key service's grab (a HotKeyService failure code), with its sentence.
  static ShortcutError ofGrab(int status);
  int code() const { return code_; }
  std::string description() const { return what(); }

 private:
  int code_;
};

// The one global hot key of the application: registers a shortcut with the
// hot-key service and runs `action` on the main thread for every press.
class HotKeyManager {
 public:
  explicit HotKeyManager(std::unique_ptr<HotKeyService> service);
  ~HotKeyManager();
  HotKeyManager(const HotKeyManager&) = delete;
  HotKeyManager& operator=(const HotKeyManager&) = delete;

  // What a press runs; a press while none is set is ignored.
  void setAction(std::function<void()> action) { action_ = std::move(action); }
  // What runs when the desktop refuses a registration after it was accepted
  // for now (the portal answers later); nothing is registered then.
  void setLateFailureAction(std::function<void(const ShortcutError&)> action) {
    lateFailure_ = std::move(action);
  }

  // Replaces the registration with one for `shortcut`. Throws ShortcutError:
  // for a shortcut that fails validation before anything changes; for a
  // combination that cannot be taken after the old registration is gone, so
  // that nothing is registered (the caller registers the previous one again).
  void registerShortcut(const Shortcut& shortcut);
  void unregisterShortcut();
  const std::optional<Shortcut>& registeredShortcut() const { return registered_; }

 private:
  std::unique_ptr<HotKeyService> service_;
  std::function<void()> action_;
  std::function<void(const ShortcutError&)> lateFailure_;
  std::optional<Shortcut> registered_;
};

}  // namespace lumacap
