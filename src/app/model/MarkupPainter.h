#pragma once

#include <QImage>
#include <QRect>
#include <cstddef>

class QPainter;

namespace lumacap {

class MarkupModel;

// Draws the items of a mark-up, on the window's canvas and into a flattened
// capture. What hides something (a redaction, a pixelation) covers whole
// pixels, so nothing outside its box changes.
class MarkupPainter {
 public:
  explicit MarkupPainter(const MarkupModel& model) : model_(model) {}

  // Item `index`; `image` is the capture under the mark-up (pixelation reads it).
  void paintItem(QPainter& painter, size_t index, const QImage& image) const;

  // `area` of the image in square cells of `cell` pixels from its top-left
  // corner, each the average colour of the pixels it covers.
  static QImage pixelated(const QImage& image, const QRect& area, int cell);

 private:
  const MarkupModel& model_;
};

}  // namespace lumacap
