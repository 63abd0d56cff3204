#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "core/ScreenGeometry.h"
#include "platform/ScreenSource.h"

namespace lumacap {

// What comes back when our windows return after a capture.
struct Restore {
  bool card = true;   // the capture's card
  bool focus = true;  // the keyboard, to the window of ours that had it
};

// Our windows, off the screen for a capture. They come back when this ends,
// with everything, or before with `restore`; moving it hands them over.
class HiddenForCapture {
 public:
  // Brings the windows back as asked; answers whether one of ours took the focus.
  using Restorer = std::function<bool(Restore)>;

  HiddenForCapture() = default;
  HiddenForCapture(Restorer restorer, bool previewWasShown)
      : restorer_(std::move(restorer)), previewWasShown_(previewWasShown) {}
  HiddenForCapture(HiddenForCapture&& other) noexcept
      : restorer_(std::exchange(other.restorer_, {})), previewWasShown_(other.previewWasShown_) {}
  HiddenForCapture& operator=(HiddenForCapture&& other) noexcept {
    if (this != &other) {
      restore({});
      restorer_ = std::exchange(other.restorer_, {});
      previewWasShown_ = other.previewWasShown_;
    }
    return *this;
  }
  HiddenForCapture(const HiddenForCapture&) = delete;
  HiddenForCapture& operator=(const HiddenForCapture&) = delete;
  ~HiddenForCapture() { restore({}); }

  // Whether windows are away (until the first `restore`).
  explicit operator bool() const { return bool(restorer_); }
  // Whether the preview was among the windows taken away.
  bool previewWasShown() const { return previewWasShown_; }
  // The windows come back now (once: later calls do nothing).
  bool restore(Restore options) {
    Restorer restorer = std::exchange(restorer_, {});
    return restorer && restorer(options);
  }

 private:
  Restorer restorer_;
  bool previewWasShown_ = false;
};

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
  // which were shown, where, and which had the focus is remembered. They
  // come back as the answer says.
  [[nodiscard]] virtual HiddenForCapture hideForCapture() = 0;
};

}  // namespace lumacap
