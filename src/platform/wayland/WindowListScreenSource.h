#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/ScreenSource.h"
#include "platform/wayland/CompositorWindowList.h"

namespace lumacap {

// A Wayland screen source together with the windows its compositor lists:
// the displays and their pixels come from `screens`, the visible windows
// from `windows`. A window is captured alone where the compositor renders
// single windows (KWin); otherwise it is raised, and cut from its display
// once the compositor reports it active.
class WindowListScreenSource final : public ScreenSource {
 public:
  WindowListScreenSource(std::unique_ptr<ScreenSource> screens,
                         std::shared_ptr<CompositorWindowList> windows);
  ~WindowListScreenSource() override;

  bool canRecordScreen() override { return screens_->canRecordScreen(); }
  QFuture<bool> requestScreenRecording() override { return screens_->requestScreenRecording(); }
  QFuture<ShareableContent> shareableContent() override;
  QFuture<QImage> displayImage(const ShareableDisplay& display, const PixelRect& source) override {
    return screens_->displayImage(display, source);
  }
  QFuture<QImage> windowImage(const ShareableWindow& window) override;
  std::optional<uint32_t> displayNumber(const QScreen& screen) override {
    return screens_->displayNumber(screen);
  }
  uint32_t mainDisplayID() override { return screens_->mainDisplayID(); }
  QFuture<std::optional<uint32_t>> activeDisplay() override;
  void giveKeyboardTo(const QWindow& window) override;
  void synchronize() override { screens_->synchronize(); }
  void expectDisplays(size_t count) override { screens_->expectDisplays(count); }
  bool overlayMayPrecedePictures() override { return screens_->overlayMayPrecedePictures(); }
  QFuture<std::vector<PixelRect>> stillShowing(std::vector<uint32_t> windows) override {
    return screens_->stillShowing(std::move(windows));
  }
  bool isCompositing() override { return screens_->isCompositing(); }
  QFuture<std::optional<std::string>> captureLimit() override { return screens_->captureLimit(); }

  // The display a window (global points) lies on, the one holding its
  // centre, and the device pixels of the window there, clipped to it.
  static std::optional<std::pair<ShareableDisplay, PixelRect>> windowArea(
      const std::vector<ShareableDisplay>& displays, const Rect& frame);

  struct Shared;

 private:
  std::unique_ptr<ScreenSource> screens_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace lumacap
