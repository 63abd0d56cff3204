#pragma once

#include <cstddef>
#include <functional>

#include "core/ProgramError.h"

namespace lumacap {

// The kinds of capture, in menu order.
enum class CaptureMode { region, window, display };

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
