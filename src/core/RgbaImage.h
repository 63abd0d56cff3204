#pragma once

#include <atomic>
#include <climits>
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

// How many rows of an image, from the top, another thread has finished.
class RowProgress {
 public:
  void publish(int rows) {
    ready_.store(rows, std::memory_order_release);
    ready_.notify_all();
  }
  // The producer gave up: waiters return false.
  void fail() {
    failed_.store(true, std::memory_order_relaxed);
    publish(INT_MAX);
  }
  // Waits until `rows` rows are finished; false when the producer failed.
  bool waitFor(int rows) const {
    for (int ready = ready_.load(std::memory_order_acquire); ready < rows;
         ready = ready_.load(std::memory_order_acquire))
      ready_.wait(ready, std::memory_order_acquire);
    return !failed_.load(std::memory_order_relaxed);
  }

 private:
  std::atomic<int> ready_{0};
  std::atomic<bool> failed_{false};
};

// The image scaled down to `size` (no larger than its own) with an area
// filter: each pixel is the average of the source area it covers, weighted by
// how much of each source pixel lies inside and by its alpha, so that
// transparent pixels lend no colour to their neighbours.
RgbaImage downscaled(const RgbaImage& image, PixelSize size);

// The same into `result` (already holding the pixels of its size), reading
// each source row only once `sourceReady` has it and publishing each row of
// the result in `resultReady`: another thread may decode the source and a
// third encode the result meanwhile. A source that fails fails the result.
// `opaque` (read once the first row is ready) says every pixel's alpha is
// 255, so that colours need no premultiplying.
void downscaleInto(const RgbaImage& image, const bool& opaque, const RowProgress& sourceReady,
                   RgbaImage& result, RowProgress& resultReady);

}  // namespace lumacap
