#include "platform/fake/FakePasteboard.h"

#include "platform/ReadyFuture.h"

namespace lumacap {

void FakePasteboard::setText(const std::string& text) {
  text_ = text;
  image_.reset();
  png_ = {};
  ++writes_;
}

QFuture<bool> FakePasteboard::setImage(const QImage& image, QFuture<QByteArray> png) {
  image_ = image;
  png_ = std::move(png);
  text_.reset();
  ++writes_;
  if (answer_ != Answer::later) return readyFuture(answer_ == Answer::reached);
  QPromise<bool>& promise = pending_.emplace_back();
  promise.start();
  return promise.future();
}

void FakePasteboard::answerPending(bool reached) {
  if (pending_.empty()) return;
  pending_.front().addResult(reached);
  pending_.front().finish();
  pending_.pop_front();
}

QByteArray FakePasteboard::png() const {
  QFuture<QByteArray> png = png_;
  png.waitForFinished();
  return png.resultCount() > 0 ? png.result() : QByteArray();
}

}  // namespace lumacap
