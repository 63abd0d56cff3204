#pragma once

#include <QObject>
#include <functional>

#include "core/Shortcut.h"

namespace lumacap {

// A system-wide key combination for this program, one at a time.
class HotKeyService {
 public:
  // Failure codes that are not the window system's own error codes.
  static constexpr int noDisplay = -1;         // no window system connection to grab keys on
  static constexpr int unmappedKey = -2;       // the key is not on this keyboard (or not one we map)
  static constexpr int notOnThisDesktop = -3;  // the desktop offers programs no global shortcuts
  static constexpr int refusedByDesktop = -4;  // the desktop's shortcut service would not bind it
  static constexpr int noAnswer = -5;          // the desktop's shortcut service did not answer in time

  virtual ~HotKeyService() = default;

  // Releases the combination taken before, then takes this one; returns 0, or
  // the failure code (the window system's error code, e.g. X11 BadAccess when
  // another client holds it). After a failure nothing stays taken. Never
  // waits on another process: where the desktop answers later (the portal),
  // 0 means the request is on its way, and a failure comes to the failure
  // handler.
  virtual int grab(const Shortcut& shortcut) = 0;
  // Releases the combination taken last, if any.
  virtual void release() = 0;

  // Runs on the main thread once per press, always after the platform's event
  // handling has returned (the press is queued).
  void setPressHandler(std::function<void()> handler) { pressHandler_ = std::move(handler); }
  // Runs on the main thread when a grab that returned 0 failed later, with the failure code.
  void setFailureHandler(std::function<void(int)> handler) { failureHandler_ = std::move(handler); }

 protected:
  // Queues one run of the press handler. Queued runs are dropped when the
  // service goes first.
  void queuePress();
  // Tells the failure handler, if any, that the last grab failed after all.
  void reportLateFailure(int status) {
    if (failureHandler_) failureHandler_(status);
  }

 private:
  std::function<void()> pressHandler_;
  std::function<void(int)> failureHandler_;
  QObject deliveryContext_;
};

}  // namespace lumacap
