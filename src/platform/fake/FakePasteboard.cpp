#include "platform/fake/FakePasteboard.h"

namespace lumacap {

void FakePasteboard::setText(const std::string& text) {
  text_ = text;
  image_.reset();
  ++writes_;
}

void FakePasteboard::setImage(const QImage& image) {
  image_ = image;
  text_.reset();
  ++writes_;
}

}  // namespace lumacap
