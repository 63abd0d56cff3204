#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QStringList>

namespace lumacap::test {

struct TextImageStyle {
  QString family = "DejaVu Sans";
  int pixelSize = 30;
  QColor text = Qt::black;
  QColor background = Qt::white;
  QSize size = {1200, 400};
};

// An image of the given lines, one under the other from the top left, drawn
// the way a screenshot of a window shows them.
inline QImage renderedText(const QStringList& lines, const TextImageStyle& style = {}) {
  QImage image(style.size, QImage::Format_ARGB32_Premultiplied);
  image.fill(style.background);
  QPainter painter(&image);
  QFont font(style.family);
  font.setPixelSize(style.pixelSize);
  painter.setFont(font);
  painter.setPen(style.text);
  int baseline = style.pixelSize * 2;
  for (const QString& line : lines) {
    painter.drawText(style.pixelSize, baseline, line);
    baseline += style.pixelSize * 8 / 5;
  }
  return image;
}

inline TextImageStyle darkTerminal() {
  return {"DejaVu Sans Mono", 28, QColor(220, 220, 220), QColor(30, 30, 30), {1200, 400}};
}

}  // namespace lumacap::test
