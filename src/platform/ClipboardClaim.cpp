#include "platform/ClipboardClaim.h"

namespace lumacap {
namespace {

std::function<void()>& claimant() {
  static std::function<void()> installed;
  return installed;
}

}  // namespace

void claimClipboardFromInput() {
  if (claimant()) claimant()();
}

void setClipboardClaimant(std::function<void()> installed) { claimant() = std::move(installed); }

}  // namespace lumacap
