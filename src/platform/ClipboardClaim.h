#pragma once

#include <functional>

namespace lumacap {

// Some desktops take a clipboard offer only from the focused window, while it
// handles a fresh input event. A window of ours calls `claimClipboardFromInput`
// from the input handler that finishes a capture bound for the clipboard (the
// region overlay's release or key handler); the pasteboard that needs this
// installs the claimant, and the capture's image follows once it is in hand.
// Without a claimant the call does nothing.
void claimClipboardFromInput();
void setClipboardClaimant(std::function<void()> claimant);

}  // namespace lumacap
