#include "platform/fake/FakePasteboard.h"

namespace lumacap {

void FakePasteboard::setText(const std::string& text) {
  text_ = text;
  image_.reset();
  png_ = {};
  ++writes_;
}

void FakePasteboard::setImage(const QImage& image, QFuture<QByteArray> png) {
  image_ = image;
  png_ = std::move(png);
  text_.reset();
  ++writes_;
}

QByteArray FakePasteboard::png() const {
  QFuture<QByteArray> png = png_;
  png.waitForFinished();
  return png.resultCount() > 0 ? png.result() : QByteArray();
}

}  // namespace lumacap
