#pragma once

#include "platform/ReadyFuture.h"
#include "platform/ScreenSource.h"

namespace lumacap {

// The screen on a desktop that offers no capture path Lumacap knows: every capture fails with
// CaptureError::Kind::notOnThisDesktop, which says what to install.
class UnavailableScreenSource final : public ScreenSource {
 public:
  bool canRecordScreen() override { return true; }
  QFuture<bool> requestScreenRecording() override { return readyFuture(true); }
  QFuture<ShareableContent> shareableContent() override;
  QFuture<QImage> displayImage(const ShareableDisplay&, const PixelRect&) override;
  QFuture<QImage> windowImage(const ShareableWindow&) override;
  std::optional<uint32_t> displayNumber(const QScreen&) override { return std::nullopt; }
  uint32_t mainDisplayID() override { return 0; }
  void synchronize() override {}
  QFuture<std::vector<PixelRect>> stillShowing(std::vector<uint32_t>) override;
  bool isCompositing() override { return true; }
};

}  // namespace lumacap
