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

// The source pixels one destination pixel covers along one axis, with the
// share of each that lies inside it; the shares sum to 1.
struct Span {
  int first = 0;
  std::vector<float> weights;
};

std::vector<Span> spans(int source, int destination) {
  std::vector<Span> result(static_cast<size_t>(destination));
  const double step = static_cast<double>(source) / destination;
  for (int i = 0; i < destination; ++i) {
    const double start = i * step;
    const double end = std::min<double>(source, (i + 1) * step);
    Span& span = result[static_cast<size_t>(i)];
    span.first = static_cast<int>(start);
    for (int s = span.first; s < end; ++s) {
      const double covered = std::min<double>(s + 1, end) - std::max<double>(s, start);
      span.weights.push_back(static_cast<float>(std::max(0.0, covered) / step));
    }
  }
  return result;
}

// One source row averaged across into `across`: red, green and blue
// premultiplied by alpha, and alpha, per destination column.
void filterAcross(const RgbaImage& image, int sourceRow, const std::vector<Span>& columns,
                  std::vector<float>& across) {
  const uint8_t* source =
      image.pixels.data() + static_cast<size_t>(sourceRow) * static_cast<size_t>(image.width) * 4;
  float* out = across.data();
  for (const Span& column : columns) {
    const uint8_t* pixel = source + static_cast<size_t>(column.first) * 4;
    float r = 0, g = 0, b = 0, a = 0;
    for (const float weight : column.weights) {
      const float alpha = pixel[3] * weight;
      r += pixel[0] * alpha;
      g += pixel[1] * alpha;
      b += pixel[2] * alpha;
      a += alpha;
      pixel += 4;
    }
    out[0] = r, out[1] = g, out[2] = b, out[3] = a;
    out += 4;
  }
}

uint8_t channel(float value) { return static_cast<uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f)); }

}  // namespace

RgbaImage downscaled(const RgbaImage& image, PixelSize size) {
  if (size.width >= image.width && size.height >= image.height) return image;
  const std::vector<Span> columns = spans(image.width, size.width);
  const std::vector<Span> rows = spans(image.height, size.height);
  RgbaImage result{size.width, size.height,
                   std::vector<uint8_t>(static_cast<size_t>(size.width) * size.height * 4)};
  const size_t rowFloats = static_cast<size_t>(size.width) * 4;
  // Each source row is filtered across once (a row on the border of two
  // destination rows is kept for the second), then added into the
  // destination rows it lies in. Colours are summed premultiplied by alpha.
  std::vector<float> across(rowFloats);
  std::vector<float> sum(rowFloats);
  int acrossRow = -1;
  for (int y = 0; y < size.height; ++y) {
    std::fill(sum.begin(), sum.end(), 0.0f);
    const Span& row = rows[static_cast<size_t>(y)];
    for (size_t k = 0; k < row.weights.size(); ++k) {
      const int sourceRow = row.first + static_cast<int>(k);
      if (sourceRow != acrossRow) filterAcross(image, sourceRow, columns, across);
      acrossRow = sourceRow;
      const float weight = row.weights[k];
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
  }
  return result;
}

}  // namespace lumacap
