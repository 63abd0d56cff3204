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
    case Kind::portalFileNotLocal:
      return "The desktop’s screenshot portal answered without a screenshot file Lumacap can open (it takes "
             "only an absolute file:// address). Try capturing again.";
    case Kind::portalFileIsLink:
      return "The desktop’s screenshot portal named a link instead of its screenshot file, and Lumacap "
             "does not follow links there. Nothing was read or deleted. Try capturing again.";
    case Kind::portalFileNotRegular:
      return "The desktop’s screenshot portal named something that is not a file (a pipe, a device or a "
             "folder). Nothing was read or deleted. Try capturing again.";
    case Kind::portalFileOfAnotherUser:
      return "The desktop’s screenshot portal named a file that belongs to another user. Nothing was read or "
             "deleted. Try capturing again.";
    case Kind::portalFileTooLarge:
      return "The desktop’s screenshot is larger than Lumacap reads (256 MiB of PNG, 1 GiB of pixels). "
             "Nothing was deleted. Capture a smaller area, or fewer displays.";
    case Kind::portalFileUnreadable:
      return "The desktop’s screenshot could not be read as a PNG image, and was left where it is. Try "
             "capturing again.";
  }
  return "";
}

}  // namespace lumacap
