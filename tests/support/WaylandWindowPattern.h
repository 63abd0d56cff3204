#pragma once

#include <QImage>

namespace lumacap::test {

// The picture a test window shows: every pixel tells where it is in the
// window and which window it is (`seed`), so a capture of another window, a
// wrong offset or a wrong size cannot match.
inline QRgb windowPatternAt(int x, int y, int seed) {
  return qRgb((x + seed * 50) % 256, y % 256, (seed * 60 + (x / 256) * 40 + (y / 256) * 90) % 256);
}

inline QImage windowPattern(QSize size, int seed) {
  QImage image(size, QImage::Format_RGB32);
  for (int y = 0; y < size.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < size.width(); ++x) line[x] = windowPatternAt(x, y, seed);
  }
  return image;
}

}  // namespace lumacap::test
