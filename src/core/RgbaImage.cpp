#include "core/RgbaImage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// A pixel as four floats (red, green, blue, alpha), summed and scaled in
// one instruction each. The conversions from and to bytes are spelled out
// for SSE2, which every x86-64 processor has: the compiler's own turn each
// lane into scalar instructions.
using Lanes = float __attribute__((vector_size(16)));

Lanes lanesOf(const uint8_t* pixel) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i bytes = _mm_cvtsi32_si128(
      static_cast<int>(pixel[0] | pixel[1] << 8 | pixel[2] << 16 | static_cast<uint32_t>(pixel[3]) << 24));
  return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
#else
  return Lanes{float(pixel[0]), float(pixel[1]), float(pixel[2]), float(pixel[3])};
#endif
}

// Rounded to the nearest and kept within 0…255, like std::clamp(v + 0.5, 0, 255).
void storeBytes(Lanes value, uint8_t* pixel) {
  value += 0.5f;
#if defined(__SSE2__)
  const __m128i words = _mm_cvttps_epi32(value);  // sums are never negative
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(words, words), words);
  const uint32_t packed = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
  std::memcpy(pixel, &packed, 4);
#else
  for (int c = 0; c < 4; ++c) pixel[c] = static_cast<uint8_t>(std::clamp(value[c], 0.0f, 255.0f));
#endif
}

// Adds one source row, times `weight`, into `sum` (a pixel's four lanes per
// source column): as they are when the image is opaque, else with red, green
// and blue premultiplied by alpha.
void addRow(const RgbaImage& image, int sourceRow, float weight, bool opaque, std::vector<Lanes>& sum) {
  const uint8_t* source =
      image.pixels.data() + static_cast<size_t>(sourceRow) * static_cast<size_t>(image.width) * 4;
  Lanes* out = sum.data();
  size_t x = 0;
#if defined(__SSE2__)
  if (opaque) {
    // Four pixels at a time.
    const __m128i zero = _mm_setzero_si128();
    const __m128 scale = _mm_set1_ps(weight);
    for (; x + 4 <= sum.size(); x += 4) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + x * 4));
      const __m128i low = _mm_unpacklo_epi8(bytes, zero), high = _mm_unpackhi_epi8(bytes, zero);
      out[x] += _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(low, zero)), scale);
      out[x + 1] += _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(low, zero)), scale);
      out[x + 2] += _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(high, zero)), scale);
      out[x + 3] += _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(high, zero)), scale);
    }
  }
#endif
  for (; x < sum.size(); ++x) {
    const Lanes value = lanesOf(source + x * 4);
    const float alpha = opaque ? weight : value[3] * weight;
    out[x] += value * Lanes{alpha, alpha, alpha, weight};
  }
}

}  // namespace

RgbaImage downscaled(const RgbaImage& image, PixelSize size) {
  if (size.width >= image.width && size.height >= image.height) return image;
  RgbaImage result{size.width, size.height,
                   std::vector<uint8_t>(static_cast<size_t>(size.width) * size.height * 4)};
  bool opaque = true;
  for (size_t i = 3; i < image.pixels.size() && opaque; i += 4) opaque = image.pixels[i] == 255;
  RowProgress whole, scaled;
  whole.publish(image.height);
  downscaleInto(image, opaque, whole, result, scaled);
  return result;
}

void downscaleInto(const RgbaImage& image, const bool& opaque, const RowProgress& sourceReady,
                   RgbaImage& result, RowProgress& resultReady) {
  const PixelSize size{result.width, result.height};
  const Spans columns = spans(image.width, size.width);
  const Spans rows = spans(image.height, size.height);
  // For each destination row, the source rows it covers are summed down
  // (weighted by how much of each it covers), then that sum across.
  std::vector<Lanes> down(static_cast<size_t>(image.width));
  const size_t taps = static_cast<size_t>(columns.taps);
  for (int y = 0; y < size.height; ++y) {
    std::fill(down.begin(), down.end(), Lanes{});
    for (int k = 0; k < rows.taps; ++k) {
      const float weight = rows.weights[static_cast<size_t>(y * rows.taps + k)];
      if (weight == 0) continue;
      const int sourceRow = rows.first[static_cast<size_t>(y)] + k;
      if (!sourceReady.waitFor(sourceRow + 1)) return resultReady.fail();
      addRow(image, sourceRow, weight, opaque, down);
    }
    uint8_t* out = result.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(size.width) * 4;
    const float* weights = columns.weights.data();
    for (const int first : columns.first) {
      const Lanes* pixel = down.data() + first;
      Lanes sum{};
      for (size_t k = 0; k < taps; ++k) sum += pixel[k] * weights[k];
      weights += taps;
      // Colours back from premultiplied.
      const float alpha = sum[3];
      const float unpremultiply = opaque ? 1.0f : alpha > 0 ? 1.0f / alpha : 0.0f;
      storeBytes(sum * Lanes{unpremultiply, unpremultiply, unpremultiply, 1.0f}, out);
      out += 4;
    }
    resultReady.publish(y + 1);
  }
}

}  // namespace lumacap
