#pragma once

#include <QObject>
#include <QTimer>
#include <array>

#include "core/CaptureError.h"

namespace lumacap {

// A capture that starts after a countdown of whole seconds; one at a time
// (a new one replaces the one counting). Its countdown window hides itself
// when the count reaches 0, before `due` starts the capture, and a capture
// waits until our hidden windows have left the screen: the countdown is
// never in the image.
class DelayedCapture final : public QObject {
  Q_OBJECT

 public:
  static constexpr std::array<int, 3> choices = {3, 5, 10};

  explicit DelayedCapture(QObject* parent = nullptr);

  void start(CaptureMode mode, int seconds);
  void cancel();
  // Seconds left; 0 when none is counting.
  int remaining() const { return remaining_; }

 signals:
  void remainingChanged();
  void due(CaptureMode mode);

 private:
  void tick();

  QTimer timer_;
  CaptureMode mode_ = CaptureMode::region;
  int remaining_ = 0;
};

}  // namespace lumacap
