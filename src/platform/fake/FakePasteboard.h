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
  void setImage(const QImage& image) override;

  const std::optional<std::string>& text() const { return text_; }
  const std::optional<QImage>& image() const { return image_; }
  int writes() const { return writes_; }

 private:
  std::optional<std::string> text_;
  std::optional<QImage> image_;
  int writes_ = 0;
};

}  // namespace lumacap
