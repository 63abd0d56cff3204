#include "app/views/PinWindow.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "platform/wayland/OverlayLayer.h"

namespace lumacap {
namespace {

constexpr double smallestZoom = 0.1;
constexpr double largestZoom = 8;
constexpr double zoomStep = 1.15;     // per notch of the wheel
constexpr double opacityStep = 0.05;  // per notch with Ctrl
constexpr double faintest = 0.2;

bool onWayland() { return QGuiApplication::platformName() == QLatin1String("wayland"); }

bool keptAboveOnWayland = false;

}  // namespace

PinWindow::PinWindow(QImage image, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      image_(std::move(image)) {
  setAttribute(Qt::WA_DeleteOnClose);
  if (onWayland())
    setAttribute(Qt::WA_TranslucentBackground);
  else
    setAttribute(Qt::WA_OpaquePaintEvent);
  setWindowTitle(QStringLiteral("Pinned capture — Lumacap"));
  setAccessibleName(windowTitle());
  setToolTip(
      QStringLiteral("Drag to move · wheel to zoom · Ctrl+wheel for opacity · Esc or double-click to close"));
  setCursor(Qt::OpenHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  setZoom(1);
}

PinWindow* PinWindow::pin(const QImage& image, QScreen* screen) {
  if (image.isNull()) return nullptr;
  if (!screen) screen = QGuiApplication::primaryScreen();
  auto* window = new PinWindow(image);
  if (screen) {
    window->setScreen(screen);
    window->setZoom(1);
    window->move(screen->availableGeometry().center() - window->rect().center());
  }
  if (screen && keptAboveOnWayland && onWayland()) {
    window->winId();
    window->windowHandle()->setScreen(screen);
    const QSize room = screen->geometry().size() - window->size();
    const QPoint centred(std::max(0, room.width() / 2), std::max(0, room.height() / 2));
    if (placeAboveWindows(*window->windowHandle(), centred)) window->layerPosition_ = centred;
  }
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

void PinWindow::keepAboveOnWayland(bool keep) { keptAboveOnWayland = keep; }

void PinWindow::moveTo(QPoint topLeft) {
  if (!layerPosition_) {
    move(topLeft);
    return;
  }
  layerPosition_ = topLeft;
  moveAboveWindows(*windowHandle(), topLeft);
}

// At zoom 1 one pixel of the capture is one pixel of the screen.
void PinWindow::setZoom(double zoom, std::optional<QPointF> anchor) {
  const double before = zoom_;
  zoom_ = std::clamp(zoom, smallestZoom, largestZoom);
  const QSizeF shown = QSizeF(image_.size()) * zoom_ / devicePixelRatioF();
  const QSize size(std::max(1, qRound(shown.width())), std::max(1, qRound(shown.height())));
  const QPoint from = layerPosition_.value_or(pos());
  const QPoint topLeft = anchor ? from + (*anchor - *anchor * (zoom_ / before)).toPoint() : from;
  setFixedSize(size);
  if (anchor) moveTo(topLeft);
  update();
}

void PinWindow::setOpacity(double opacity) {
  opacity_ = std::clamp(opacity, faintest, 1.0);
  if (onWayland())
    update();
  else
    setWindowOpacity(opacity_);
}

void PinWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, zoom_ < 1);
  if (onWayland()) painter.setOpacity(opacity_);
  painter.drawImage(rect(), image_);
  // A hairline so that a pin stays apart from a window of the same colour.
  painter.setPen(QColor(0, 0, 0, 90));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PinWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (layerPosition_) {
    // Held by the point of the window under the pointer: each move puts it
    // back under the pointer.
    grabbed_ = event->position().toPoint();
  } else {
    // Wayland places windows itself: the desktop moves it.
    if (onWayland() && windowHandle() && windowHandle()->startSystemMove()) return;
    grabbed_ = event->globalPosition().toPoint() - pos();
  }
  setCursor(Qt::ClosedHandCursor);
}

void PinWindow::mouseMoveEvent(QMouseEvent* event) {
  if (!grabbed_) return;
  if (layerPosition_)
    moveTo(*layerPosition_ + event->position().toPoint() - *grabbed_);
  else
    move(event->globalPosition().toPoint() - *grabbed_);
}

void PinWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  grabbed_.reset();
  setCursor(Qt::OpenHandCursor);
}

void PinWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) close();
}

void PinWindow::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / 120.0;
  if (notches == 0) return;
  if (event->modifiers() & Qt::ControlModifier) {
    setOpacity(opacity_ + notches * opacityStep);
  } else {
    setZoom(zoom_ * std::pow(zoomStep, notches), event->position());
  }
  event->accept();
}

void PinWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void PinWindow::contextMenuEvent(QContextMenuEvent* event) {
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction(QStringLiteral("Actual Size"), this, [this] { setZoom(1); });
  QMenu* opacity = menu->addMenu(QStringLiteral("Opacity"));
  for (const int percent : {100, 80, 60, 40}) {
    QAction* level = opacity->addAction(QStringLiteral("%1 %").arg(percent), this,
                                        [this, percent] { setOpacity(percent / 100.0); });
    level->setCheckable(true);
    level->setChecked(qRound(opacity_ * 100) == percent);
  }
  menu->addSeparator();
  menu->addAction(QStringLiteral("Close"), this, &QWidget::close);
  menu->popup(event->globalPos());
}

}  // namespace lumacap
