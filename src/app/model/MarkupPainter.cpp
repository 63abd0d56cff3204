#include "app/model/MarkupPainter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <algorithm>
#include <array>
#include <cmath>

#include "app/model/MarkupModel.h"

namespace lumacap {
namespace {

constexpr double highlighterOpacity = 0.38;

}  // namespace

void MarkupPainter::paintItem(QPainter& painter, size_t index, const QImage& image) const {
  const MarkupItem& item = model_.items()[index];
  const double width = model_.strokeWidth(item.weight);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  switch (item.kind) {
    case MarkupKind::arrow: {
      const QLineF line(item.from, item.to);
      const double head = std::min(std::max(width * 4.2, 12 * model_.unit()), line.length());
      const QLineF back = QLineF(item.to, item.from);
      QLineF shaft(item.from, back.pointAt(line.length() > 0 ? (head * 0.8) / line.length() : 0));
      painter.setPen(QPen(item.color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      if (shaft.length() > 0) painter.drawLine(QLineF(item.from, shaft.p2()));
      const double angle = qDegreesToRadians(line.angle());
      const QPointF direction(std::cos(angle), -std::sin(angle));
      const QPointF normal(-direction.y(), direction.x());
      const QPointF base = item.to - direction * head;
      const QPolygonF tip{item.to, base + normal * head * 0.55, base - normal * head * 0.55};
      painter.setPen(QPen(item.color, width * 0.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      painter.setBrush(item.color);
      painter.drawPolygon(tip);
      break;
    }
    case MarkupKind::line:
      painter.setPen(QPen(item.color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      painter.drawLine(QLineF(item.from, item.to));
      break;
    case MarkupKind::pen: {
      painter.setPen(QPen(item.color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      if (item.path.size() == 1) {
        painter.drawPoint(item.path.front());
      } else {
        painter.drawPolyline(item.path.data(), static_cast<int>(item.path.size()));
      }
      break;
    }
    case MarkupKind::rectangle:
      painter.setPen(QPen(item.color, width, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
      painter.setBrush(Qt::NoBrush);
      painter.drawRect(spanned(item.from, item.to));
      break;
    case MarkupKind::ellipse:
      painter.setPen(QPen(item.color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      painter.setBrush(Qt::NoBrush);
      painter.drawEllipse(spanned(item.from, item.to));
      break;
    case MarkupKind::highlighter: {
      QColor marker = item.color;
      marker.setAlphaF(highlighterOpacity);
      painter.fillRect(spanned(item.from, item.to), marker);
      break;
    }
    case MarkupKind::text: {
      const QFont font = textFont(model_.textSize(item.weight));
      QPainterPath path;
      path.addText(item.from + QPointF(0, QFontMetricsF(font).ascent()), font, item.text);
      // A white halo keeps the letters legible on any background.
      painter.setPen(QPen(Qt::white, std::max(2.0, model_.textSize(item.weight) / 6), Qt::SolidLine,
                          Qt::RoundCap, Qt::RoundJoin));
      painter.setBrush(Qt::NoBrush);
      painter.drawPath(path);
      painter.fillPath(path, item.color);
      break;
    }
    case MarkupKind::step: {
      const QRectF circle = model_.bounds(item);
      painter.setPen(QPen(Qt::white, std::max(1.5, circle.width() / 12)));
      painter.setBrush(item.color);
      painter.drawEllipse(circle);
      QFont font = textFont(circle.height() * 0.58);
      painter.setFont(font);
      painter.setPen(item.color.lightnessF() > 0.7 ? Qt::black : Qt::white);
      painter.drawText(circle, Qt::AlignCenter, QString::number(model_.stepNumber(index)));
      break;
    }
    case MarkupKind::redact:
      // Whole pixels, opaque, with no anti-aliased edge that lets anything through.
      painter.setRenderHint(QPainter::Antialiasing, false);
      painter.setCompositionMode(QPainter::CompositionMode_Source);
      painter.fillRect(redactedPixels(item), QColor(0, 0, 0, 255));
      break;
    case MarkupKind::pixelate: {
      // Whole pixels, as the redaction: nothing outside the box changes.
      const QRect area = redactedPixels(item).intersected(image.rect());
      if (area.isEmpty()) break;
      painter.setRenderHint(QPainter::Antialiasing, false);
      painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
      painter.setCompositionMode(QPainter::CompositionMode_Source);
      painter.drawImage(area.topLeft(), pixelated(image, area, model_.cellSize(item.weight)));
      break;
    }
    case MarkupKind::crop:
      break;
  }
  painter.restore();
}

// `area` of the image in square cells of `cell` pixels from its top-left
// corner, each the average colour of the pixels it covers.
QImage MarkupPainter::pixelated(const QImage& image, const QRect& area, int cell) {
  QImage cells = image.copy(area).convertToFormat(QImage::Format_ARGB32);
  for (int top = 0; top < cells.height(); top += cell) {
    const int bottom = std::min(top + cell, cells.height());
    for (int left = 0; left < cells.width(); left += cell) {
      const int right = std::min(left + cell, cells.width());
      std::array<quint64, 4> sum{};
      for (int y = top; y < bottom; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(cells.constScanLine(y));
        for (int x = left; x < right; ++x) {
          sum[0] += qRed(row[x]);
          sum[1] += qGreen(row[x]);
          sum[2] += qBlue(row[x]);
          sum[3] += qAlpha(row[x]);
        }
      }
      const auto count = static_cast<quint64>((bottom - top) * (right - left));
      const QRgb average =
          qRgba(int(sum[0] / count), int(sum[1] / count), int(sum[2] / count), int(sum[3] / count));
      for (int y = top; y < bottom; ++y) {
        auto* row = reinterpret_cast<QRgb*>(cells.scanLine(y));
        std::fill(row + left, row + right, average);
      }
    }
  }
  return cells;
}

}  // namespace lumacap
