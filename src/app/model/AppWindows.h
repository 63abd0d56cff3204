#pragma once

#include <cstdint>
#include <vector>

#include "core/ScreenGeometry.h"
#include "platform/ScreenSource.h"

namespace lumacap {

// The windows the model asks for, in words of the workflow. The model decides
// when a window is wanted; the implementation decides what it is (a Qt window
// on X11) and where it goes. The model never sees a window itself.
class AppWindows {
 public:
  virtual ~AppWindows() = default;

  // The card of the capture in hand, in the corner of this display's free
  // area (the main screen when that display is gone), without taking focus.
  virtual void showQuickCapture(uint32_t displayID) = 0;
  virtual void hideQuickCapture() = 0;
  // The preview of the capture in hand, in front and focused.
  virtual void showPreview() = 0;
  virtual void hidePreview() = 0;
  virtual bool previewShown() const = 0;
  // The mark-up window for the capture in hand, in front and focused, with
  // these boxes (in the image's pixels) added as redactions the user can undo.
  // A mark-up window already open on this capture keeps its items.
  virtual void showMarkup(const std::vector<Rect>& redactions) = 0;
  virtual void hideMarkup() = 0;
  // Recent Captures and Settings, in front and focused.
  virtual void showHistory() = 0;
  virtual void showSettings() = 0;
  // The window chooser with these candidates, in front and focused; choosing
  // one calls the model's `captureWindow`.
  virtual void showWindowChooser(std::vector<ShareableWindow> windows) = 0;
  virtual void hideWindowChooser() = 0;
  // The preview, Recent Captures and Settings go, so that the user can paste
  // into another application.
  virtual void hideForPasting() = 0;

  // Every window of ours leaves the screen so that none is in the capture;
  // which were shown, where, and which had the focus is remembered.
  virtual void hideForCapture() = 0;
  // The windows `hideForCapture` took away come back where they were, with
  // their contents; the card only with `withCard`. With `withFocus` the one
  // that had the focus gets it back. Answers whether one of ours took it.
  virtual bool restoreAfterCapture(bool withCard, bool withFocus) = 0;
  // Whether the preview was among the windows `hideForCapture` took away.
  virtual bool previewWasShownBeforeCapture() const = 0;
};

}  // namespace lumacap
