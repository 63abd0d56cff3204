#pragma once

#include <cstddef>
#include <functional>

#include "core/ProgramError.h"

namespace lumacap {

// The kinds of capture, in menu order.
// lastRegion: the last region selected, again, without the overlay.
enum class CaptureMode { region, window, display, lastRegion };

enum class CaptureErrorKind {
  permission,
  noDisplay,
  invalidRegion,
  notOnThisDesktop,
  // The file a desktop's screenshot portal named:
  portalFileNotLocal,       // not an absolute file:// URI
  portalFileIsLink,         // a symbolic link
  portalFileNotRegular,     // a pipe, a device, a folder…
  portalFileOfAnotherUser,  // not the user's own
  portalFileTooLarge,       // more than the reader takes
  portalFileUnreadable,     // missing, unreadable, or not a PNG image
  // The desktop's screenshot services:
  noSessionBus,          // no session bus to ask the desktop on
  portalUnavailable,     // the Screenshot portal (or its back end) is missing
  portalNoAnswer,        // the portal took the request and never answered
  portalBusy,            // still busy with another screenshot after the retries
  portalRefused,         // the desktop (or the user in its dialog) said no
  portalCancelled,       // the user closed the desktop's screenshot interface
  desktopImageTooSmall,  // the whole-desktop image does not cover the display
  compositorRefused,     // KWin or a wlroots compositor refused to copy the screen
  compositorNoAnswer,    // the compositor did not hand the screen over in time
  compositorGone,        // the connection to the compositor was lost
  kwinImageUnreadable,   // KWin handed over a screen image Lumacap cannot read
};

// A capture's own failures, each with the sentence the user sees.
class CaptureError : public KindedError<CaptureErrorKind> {
 public:
  explicit CaptureError(Kind kind) : KindedError(kind, description(kind)) {}
  static const char* description(Kind kind);
};

}  // namespace lumacap

template <>
struct std::hash<lumacap::CaptureError> {
  size_t operator()(const lumacap::CaptureError& error) const noexcept {
    return std::hash<int>()(static_cast<int>(error.kind()));
  }
};
