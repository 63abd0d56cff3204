#include "app/model/DelayedCapture.h"

namespace lumacap {

DelayedCapture::DelayedCapture(QObject* parent) : QObject(parent) {
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &DelayedCapture::tick);
}

void DelayedCapture::start(CaptureMode mode, int seconds) {
  mode_ = mode;
  remaining_ = std::max(1, seconds);
  timer_.start();
  emit remainingChanged();
}

void DelayedCapture::cancel() {
  if (remaining_ == 0) return;
  timer_.stop();
  remaining_ = 0;
  emit remainingChanged();
}

void DelayedCapture::tick() {
  if (--remaining_ > 0) return emit remainingChanged();
  timer_.stop();
  emit remainingChanged();  // the countdown leaves the screen first
  emit due(mode_);
}

}  // namespace lumacap
