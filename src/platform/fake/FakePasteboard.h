#pragma once

#include <QImage>
#include <optional>
#include <string>

#include "platform/Pasteboard.h"

namespace lumacap {

// An in-memory clipboard that remembers what was written last.
class FakePasteboard final : public Pasteboard {
 public:
  void setText(const std::string& text) override;
  void setImage(const QImage& image, QFuture<QByteArray> png) override;
  void setImage(const QImage& image) { setImage(image, {}); }

  const std::optional<std::string>& text() const { return text_; }
  const std::optional<QImage>& image() const { return image_; }
  // The PNG bytes offered with the image (empty when none were given).
  QByteArray png() const;
  int writes() const { return writes_; }

 private:
  std::optional<std::string> text_;
  std::optional<QImage> image_;
  QFuture<QByteArray> png_;
  int writes_ = 0;
};

}  // namespace lumacap
