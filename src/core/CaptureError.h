#pragma once

#include <cstddef>
#include <functional>
#include <string>

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
  portalGaveNoImage,     // a screenshot nobody was asked about came back without an image
  desktopImageTooSmall,  // the whole-desktop image does not cover the display
  compositorRefused,     // KWin or a wlroots compositor refused to copy the screen
  compositorNoAnswer,    // the compositor did not hand the screen over in time
  compositorGone,        // the connection to the compositor was lost
  kwinImageUnreadable,   // KWin handed over a screen image Lumacap cannot read
  // The X server:
  x11Refused,         // it refused to hand over the screen image (an X error)
  x11PixelFormat,     // its pixel format is not one Lumacap reads
  x11ConnectionLost,  // the connection to it was lost
  x11ImageMismatch,   // it answered with an image of another format than asked
  // KWin's window scripts (the window list and activation):
  kwinScriptUnwritable,   // the script's file could not be written
  kwinAnswerUnreachable,  // the object its answer goes to could not be exported
  kwinScriptRefused,      // KWin did not load the script
  kwinScriptNoAnswer,     // the script did not answer in time
  // GNOME's permission store (or its dialog) says no to Lumacap's screenshots:
  // made with `refusedOnGnome`, which names the application.
  gnomeScreenshotsRefused,
};

// A capture's own failures, each with the sentence the user sees.
class CaptureError : public KindedError<CaptureErrorKind> {
 public:
  explicit CaptureError(Kind kind) : KindedError(kind, description(kind)) {}
  static const char* description(Kind kind);
  // GNOME refuses screenshots to `applicationID` (empty when the portal knows
  // no id): the sentence says how to allow them.
  static CaptureError refusedOnGnome(const std::string& applicationID);

 private:
  CaptureError(Kind kind, const std::string& sentence) : KindedError(kind, sentence) {}
};

}  // namespace lumacap

template <>
struct std::hash<lumacap::CaptureError> {
  size_t operator()(const lumacap::CaptureError& error) const noexcept {
    return std::hash<int>()(static_cast<int>(error.kind()));
  }
};
