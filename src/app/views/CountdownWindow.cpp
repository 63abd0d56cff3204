#include "app/views/CountdownWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

#include "app/model/DelayedCapture.h"

namespace lumacap {

CountdownWindow::CountdownWindow(DelayedCapture& delayed, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), delayed_(delayed) {
  setWindowTitle(QStringLiteral("Lumacap countdown"));
  setFixedSize(220, 120);
  connect(&delayed_, &DelayedCapture::remainingChanged, this, &CountdownWindow::render);
}

void CountdownWindow::render() {
  if (delayed_.remaining() == 0) return hide();
  if (!isVisible()) {
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen->availableGeometry();
    move(area.center().x() - width() / 2, area.top() + area.height() / 5);
    show();
    raise();
    activateWindow();
  }
  update();
}

void CountdownWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0x20, 0x24, 0x2c));
  painter.setPen(Qt::white);
  QFont font = this->font();
  font.setPixelSize(56);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(rect().adjusted(0, 0, 0, -28), Qt::AlignCenter, QString::number(delayed_.remaining()));
  font.setPixelSize(13);
  font.setBold(false);
  painter.setFont(font);
  painter.drawText(rect().adjusted(0, 0, 0, -10), Qt::AlignHCenter | Qt::AlignBottom,
                   QStringLiteral("Capturing soon · Esc cancels"));
}

void CountdownWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return delayed_.cancel();
  QWidget::keyPressEvent(event);
}

}  // namespace lumacap
