#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>

namespace lumacap {

class AppWindows;
class CaptureSlot;

// The card (thumbnail) of the capture in hand: shown on the capture's
// display, it goes by itself once the pointer has been off it for a while.
class QuickCaptureCard final : public QObject {
  Q_OBJECT

 public:
  QuickCaptureCard(AppWindows& windows, CaptureSlot& slot, std::chrono::milliseconds dismissalDelay,
                   QObject* parent = nullptr);

  void show();
  void hide();
  void setHovered(bool hovered);
  // The card stays until it is shown again (it leaves for a capture).
  void stopDismissal() { dismissTimer_.stop(); }

 private:
  AppWindows& windows_;
  CaptureSlot& slot_;
  std::chrono::milliseconds dismissalDelay_;
  QTimer dismissTimer_;
};

}  // namespace lumacap
