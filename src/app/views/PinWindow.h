#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>
#include <optional>

class QScreen;

namespace lumacap {

// A capture pinned to the screen: a frameless window of the image alone,
// above the other windows where the desktop allows it (X11; Wayland desktops
// with layer-shell, KWin's and wlroots', where Lumacap is built with
// LayerShellQt: see keepAboveOnWayland; elsewhere an ordinary window, which
// Settings says). Dragging moves it, the wheel zooms
// it about the pointer, Ctrl+wheel or its context menu sets its opacity;
// Escape or a double-click closes it. It deletes itself when closed.
class PinWindow final : public QWidget {
 public:
  explicit PinWindow(QImage image, QWidget* parent = nullptr);

  // Shows `image` pinned at its actual size, centred on `screen` (the
  // primary screen without one).
  static PinWindow* pin(const QImage& image, QScreen* screen);
  // Whether pins on Wayland go on the desktop's overlay layer (the desktop
  // has layer-shell); set once by the application.
  static void keepAboveOnWayland(bool keep);
  // Whether this pin is on that layer.
  bool aboveWindows() const { return layerPosition_.has_value(); }

  const QImage& image() const { return image_; }
  double zoom() const { return zoom_; }
  // Keeps the point of the window at `anchor` (window coordinates) in place.
  void setZoom(double zoom, std::optional<QPointF> anchor = std::nullopt);
  // Wayland has no window opacity: there the pin paints itself faint.
  void setOpacity(double opacity);
  double opacity() const { return opacity_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  QImage image_;
  double zoom_ = 1;
  double opacity_ = 1;
  std::optional<QPoint> grabbed_;  // where the pointer holds the window, while it is dragged
  // On the overlay layer: the top-left corner in its output, which the
  // window moves by (Wayland tells it no global position).
  std::optional<QPoint> layerPosition_;
  void moveTo(QPoint topLeft);
};

}  // namespace lumacap
