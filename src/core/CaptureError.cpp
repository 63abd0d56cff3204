#include "core/CaptureError.h"

namespace lumacap {

const char* CaptureError::description(Kind kind) {
  switch (kind) {
    case Kind::permission:
      return "Allow Lumacap in System Settings → Privacy & Security → Screen & System Audio Recording, then "
             "try "
             "again. macOS may require you to quit and reopen Lumacap. Accessibility permission is not "
             "needed.";
    case Kind::noDisplay:
      return "The selected display or window is no longer available. Try capturing again.";
    case Kind::invalidRegion:
      return "Select a region at least 3 points wide and tall.";
  }
  return "";
}

}  // namespace lumacap
