#pragma once

#include <cstdint>
#include <vector>

#include "core/ScreenGeometry.h"

namespace lumacap {

// An image as 8-bit red, green, blue and alpha per pixel, rows top to bottom
// without padding (straight, not premultiplied, alpha: as PNG keeps it).
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width × height × 4 bytes
};

// The size an image of `size` takes when scaled down, keeping its aspect, so
// that neither side exceeds `maxEdge` (each side rounded, at least 1); its own
// size when it already fits.
PixelSize fittedSize(PixelSize size, int maxEdge);

// The image scaled down to `size` (no larger than its own) with an area
// filter: each pixel is the average of the source area it covers, weighted by
// how much of each source pixel lies inside and by its alpha, so that
// transparent pixels lend no colour to their neighbours.
RgbaImage downscaled(const RgbaImage& image, PixelSize size);

}  // namespace lumacap
