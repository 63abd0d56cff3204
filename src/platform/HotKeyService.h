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

  virtual ~HotKeyService() = default;

  // Releases the combination taken before, then takes this one; returns 0, or
  // the failure code (the window system's error code, e.g. X11 BadAccess when
  // another client holds it). After a failure nothing stays taken.
  virtual int grab(const Shortcut& shortcut) = 0;
  // Releases the combination taken last, if any.
  virtual void release() = 0;

  // Runs on the main thread once per press, always after the platform's event
  // handling has returned (the press is queued).
  void setPressHandler(std::function<void()> handler) { pressHandler_ = std::move(handler); }

 protected:
  // Queues one run of the press handler. Queued runs are dropped when the
  // service goes first.
  void queuePress();

 private:
  std::function<void()> pressHandler_;
  QObject deliveryContext_;
};

}  // namespace lumacap
