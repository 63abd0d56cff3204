#pragma once

#include <map>
#include <optional>

#include "platform/HotKeyService.h"

namespace lumacap {

// Hot keys in memory: combinations "held by other programs" fail with their
// code, and press() stands in for the user pressing the taken combination.
class FakeHotKeyService final : public HotKeyService {
 public:
  int grab(const Shortcut& shortcut) override;
  void release() override { grabbed_.reset(); }

  // Makes grabbing `shortcut` fail with `code` (as if another program held it).
  void holdElsewhere(const Shortcut& shortcut, int code) {
    heldElsewhere_.insert_or_assign(shortcut.encoded(), code);
  }
  const std::optional<Shortcut>& grabbed() const { return grabbed_; }
  int grabCount() const { return grabCount_; }

  // The user presses `shortcut`; only the grabbed combination reaches us.
  void press(const Shortcut& shortcut);
  // The desktop refuses the last grab after it was accepted as pending (as a portal does).
  void refuseLater(int code) {
    grabbed_.reset();
    reportLateFailure(code);
  }

 private:
  std::optional<Shortcut> grabbed_;
  std::map<std::string, int> heldElsewhere_;
  int grabCount_ = 0;
};

}  // namespace lumacap
