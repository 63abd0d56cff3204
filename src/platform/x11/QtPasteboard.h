#pragma once

#include "platform/Pasteboard.h"

namespace lumacap {

// The CLIPBOARD selection through QClipboard. This process owns the selection
// after a write, so the contents last as long as the application runs.
class QtPasteboard final : public Pasteboard {
 public:
  void setText(const std::string& text) override;
  // X11 hands the selection to whoever asks: the offer always reaches it.
  QFuture<bool> setImage(const QImage& image, QFuture<QByteArray> png) override;
};

}  // namespace lumacap
