#include "core/CaptureError.h"

namespace lumacap {

const char* CaptureError::description(Kind kind) {
  switch (kind) {
    case Kind::permission:
      return "Lumacap captures the screen through X11, and no X11 display is available. Log in to an X11 "
             "(Xorg) session, then try again.";
    case Kind::noDisplay:
      return "The selected display or window is no longer available. Try capturing again.";
    case Kind::invalidRegion:
      return "Select a region at least 3 points wide and tall.";
    case Kind::notOnThisDesktop:
      return "This desktop offers Lumacap no way to capture the screen. Install its xdg-desktop-portal back "
             "end (for example xdg-desktop-portal-gnome, -kde or -wlr), then start Lumacap again.";
  }
  return "";
}

}  // namespace lumacap
