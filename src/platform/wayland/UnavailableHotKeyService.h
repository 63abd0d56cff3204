#pragma once

#include "platform/HotKeyService.h"

namespace lumacap {

// The hot key on a desktop that gives programs no global shortcut: every grab is refused with
// HotKeyService::notOnThisDesktop, so Settings can say why and what to do instead.
class UnavailableHotKeyService final : public HotKeyService {
 public:
  int grab(const Shortcut&) override { return notOnThisDesktop; }
  void release() override {}
};

}  // namespace lumacap
