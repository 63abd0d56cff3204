#include "core/RgbaImage.h"

#include <algorithm>
#include <cmath>

namespace lumacap {

PixelSize fittedSize(PixelSize size, int maxEdge) {
  const int longest = std::max(size.width, size.height);
  if (longest <= maxEdge || maxEdge < 1) return size;
  const double scale = static_cast<double>(maxEdge) / longest;
  const auto side = [&](int length) {
    return std::clamp(static_cast<int>(std::lround(length * scale)), 1, maxEdge);
  };
  return {side(size.width), side(size.height)};
}

namespace {

// The source pixels each destination pixel covers along one axis: the first
// of them, and a share for each of `taps` pixels from there (the shares sum
// to 1; those past the covered ones are 0, so every pixel has as many taps
// and the loops over them have no branches).
struct Spans {
  int taps = 0;
  std::vector<int> first;
  std::vector<float> weights;  // taps per destination pixel
};

Spans spans(int source, int destination) {
  Spans result;
  const double step = static_cast<double>(source) / destination;
  result.taps = std::min(source, static_cast<int>(std::ceil(step)) + 1);
  result.first.resize(static_cast<size_t>(destination));
  result.weights.assign(static_cast<size_t>(destination) * static_cast<size_t>(result.taps), 0.0f);
  for (int i = 0; i < destination; ++i) {
    const double start = i * step;
    const double end = std::min<double>(source, (i + 1) * step);
    // Moved back where the last taps would run past the edge; the shares move with it.
    const int first = std::min(static_cast<int>(start), source - result.taps);
    result.first[static_cast<size_t>(i)] = first;
    float* weights = &result.weights[static_cast<size_t>(i) * static_cast<size_t>(result.taps)];
    for (int s = static_cast<int>(start); s < end && s - first < result.taps; ++s) {
      const double covered = std::min<double>(s + 1, end) - std::max<double>(s, start);
      weights[s - first] = static_cast<float>(std::max(0.0, covered) / step);
    }
  }
  return result;
}

// One source row averaged across into `across`: red, green and blue
// premultiplied by alpha, and alpha, per destination column. The row is
// premultiplied once into `row`, then each column's taps are four-lane sums.
void filterAcross(const RgbaImage& image, int sourceRow, const Spans& columns, std::vector<float>& row,
                  std::vector<float>& across) {
  const uint8_t* source =
      image.pixels.data() + static_cast<size_t>(sourceRow) * static_cast<size_t>(image.width) * 4;
  for (size_t i = 0; i < row.size(); i += 4) {
    const float alpha = source[i + 3];
    for (size_t c = 0; c < 3; ++c) row[i + c] = source[i + c] * alpha;
    row[i + 3] = alpha;
  }
  const size_t taps = static_cast<size_t>(columns.taps);
  const float* weights = columns.weights.data();
  float* out = across.data();
  for (const int first : columns.first) {
    const float* pixel = row.data() + static_cast<size_t>(first) * 4;
    float sum[4] = {};
    for (size_t k = 0; k < taps; ++k, pixel += 4)
      for (size_t c = 0; c < 4; ++c) sum[c] += pixel[c] * weights[k];
    for (size_t c = 0; c < 4; ++c) out[c] = sum[c];
    weights += taps;
    out += 4;
  }
}

uint8_t channel(float value) { return static_cast<uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f)); }

}  // namespace

RgbaImage downscaled(const RgbaImage& image, PixelSize size) {
  if (size.width >= image.width && size.height >= image.height) return image;
  RgbaImage result{size.width, size.height,
                   std::vector<uint8_t>(static_cast<size_t>(size.width) * size.height * 4)};
  RowProgress whole, scaled;
  whole.publish(image.height);
  downscaleInto(image, whole, result, scaled);
  return result;
}

void downscaleInto(const RgbaImage& image, const RowProgress& sourceReady, RgbaImage& result,
                   RowProgress& resultReady) {
  const PixelSize size{result.width, result.height};
  const Spans columns = spans(image.width, size.width);
  const Spans rows = spans(image.height, size.height);
  const size_t rowFloats = static_cast<size_t>(size.width) * 4;
  // Each source row is filtered across once (a row on the border of two
  // destination rows is kept for the second), then added into the
  // destination rows it lies in. Colours are summed premultiplied by alpha.
  std::vector<float> row(static_cast<size_t>(image.width) * 4);
  std::vector<float> across(rowFloats);
  std::vector<float> sum(rowFloats);
  int acrossRow = -1;
  for (int y = 0; y < size.height; ++y) {
    std::fill(sum.begin(), sum.end(), 0.0f);
    for (int k = 0; k < rows.taps; ++k) {
      const float weight = rows.weights[static_cast<size_t>(y * rows.taps + k)];
      if (weight == 0) continue;
      const int sourceRow = rows.first[static_cast<size_t>(y)] + k;
      if (!sourceReady.waitFor(sourceRow + 1)) return resultReady.fail();
      if (sourceRow != acrossRow) filterAcross(image, sourceRow, columns, row, across);
      acrossRow = sourceRow;
      for (size_t i = 0; i < rowFloats; ++i) sum[i] += across[i] * weight;
    }
    uint8_t* out = result.pixels.data() + static_cast<size_t>(y) * rowFloats;
    for (size_t i = 0; i < rowFloats; i += 4) {
      const float alpha = sum[i + 3];
      const float unpremultiply = alpha > 0 ? 1.0f / alpha : 0.0f;
      out[i] = channel(sum[i] * unpremultiply);
      out[i + 1] = channel(sum[i + 1] * unpremultiply);
      out[i + 2] = channel(sum[i + 2] * unpremultiply);
      out[i + 3] = channel(alpha);
    }
    resultReady.publish(y + 1);
  }
}

}  // namespace lumacap
