#include "platform/fake/FakeHotKeyService.h"

namespace lumacap {

int FakeHotKeyService::grab(const Shortcut& shortcut) {
  ++grabCount_;
  grabbed_.reset();
  if (auto held = heldElsewhere_.find(shortcut.encoded()); held != heldElsewhere_.end()) return held->second;
  grabbed_ = shortcut;
  return 0;
}

void FakeHotKeyService::press(const Shortcut& shortcut) {
  if (grabbed_ && grabbed_->keyCode == shortcut.keyCode && grabbed_->modifiers() == shortcut.modifiers())
    queuePress();
}

}  // namespace lumacap
