#pragma once

#include <QWidget>

namespace lumacap {

class DelayedCapture;

// The countdown of a delayed capture: a small plate near the top of the
// screen with the seconds left; Esc cancels. Shown while a delayed capture
// counts, hidden when it ends (before the capture reads the screen).
class CountdownWindow final : public QWidget {
  Q_OBJECT

 public:
  explicit CountdownWindow(DelayedCapture& delayed, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void render();

  DelayedCapture& delayed_;
};

}  // namespace lumacap
