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
    case Kind::noSessionBus:
      return "Lumacap cannot reach the session bus, so it cannot ask the desktop for a screenshot or its "
             "windows.";
    case Kind::portalUnavailable:
      return "The desktop’s screenshot portal is not available. Install its xdg-desktop-portal back end (for "
             "example xdg-desktop-portal-gnome, -kde or -wlr), then capture again.";
    case Kind::portalNoAnswer:
      return "The desktop’s screenshot portal did not answer. Try capturing again.";
    case Kind::portalBusy:
      return "The desktop is still busy with another screenshot. Try capturing again in a moment.";
    case Kind::portalRefused:
      return "The desktop refused Lumacap’s screenshot request. Capture again and choose Allow when the "
             "desktop asks; if it no longer asks, allow screenshots for Lumacap in the desktop’s privacy "
             "settings.";
    case Kind::portalCancelled:
      return "The screenshot was cancelled.";
    case Kind::portalGaveNoImage:
      return "The desktop could not take a screenshot: its screenshot portal answered without an image. On "
             "KDE Plasma, KWin takes screenshots only while it composites with OpenGL: install the graphics "
             "driver for your card (Mesa), check in System Settings › Display & Monitor › Compositor that "
             "OpenGL is in use, then log in again and capture again.";
    case Kind::desktopImageTooSmall:
      return "The desktop’s screenshot does not cover the display. Try capturing again.";
    case Kind::compositorRefused:
      return "The Wayland compositor refused to copy the screen.";
    case Kind::compositorNoAnswer:
      return "The Wayland compositor did not hand over the screen in time.";
    case Kind::compositorGone:
      return "The connection to the Wayland compositor was lost while reading the screen.";
    case Kind::kwinImageUnreadable:
      return "KWin handed over a screen image Lumacap cannot read.";
    case Kind::x11Refused:
      return "The X server refused to hand over the screen image. Try capturing again.";
    case Kind::x11PixelFormat:
      return "The X server uses a pixel format Lumacap cannot read (it reads 24- and 32-bit colour).";
    case Kind::x11ConnectionLost:
      return "The connection to the X server was lost.";
    case Kind::x11ImageMismatch:
      return "The X server answered with an image of another format. Try capturing again.";
    case Kind::kwinScriptUnwritable:
      return "Lumacap could not write its KWin script to the temporary folder.";
    case Kind::kwinAnswerUnreachable:
      return "Lumacap could not receive the answer of its KWin script on the session bus.";
    case Kind::kwinScriptRefused:
      return "KWin did not load Lumacap’s script, so Lumacap cannot list or bring forward windows.";
    case Kind::kwinScriptNoAnswer:
      return "KWin’s window script did not answer.";
    case Kind::gnomeScreenshotsRefused: {
      static const std::string unnamed = refusedOnGnome("").what();
      return unnamed.c_str();
    }
  }
  return "";
}

CaptureError CaptureError::refusedOnGnome(const std::string& applicationID) {
  const std::string text = "GNOME doesn’t let Lumacap take screenshots. To allow it, ";
  if (applicationID.empty())
    return {Kind::gnomeScreenshotsRefused,
            text + "run “flatpak permission-set screenshot screenshot '' yes”."};
  return {Kind::gnomeScreenshotsRefused,
          text +
              "turn on Screenshots for Lumacap in Settings → Applications, or run “flatpak permission-set "
              "screenshot screenshot " +
              applicationID + " yes”."};
}

}  // namespace lumacap
