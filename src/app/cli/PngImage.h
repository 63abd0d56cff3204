#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/RgbaImage.h"

namespace lumacap {

// How hard the PNG encoder works: zlib's level and strategy and the row
// filters it tries (PNG_FILTER_* bits). Every setting is lossless.
struct PngCompression {
  int level = 1;
  int strategy = 0;    // Z_DEFAULT_STRATEGY
  int filters = 0x08;  // PNG_FILTER_NONE
};

// PNG decoding and encoding with libpng, for the roles that run without Qt.
struct PngImage {
  // Decoded images larger than this are refused (the application's own bound).
  static constexpr size_t maximumDecodedBytes = size_t{1024} << 20;

  // The size the PNG's header gives; nothing when the bytes are no PNG.
  static std::optional<PixelSize> size(std::string_view png);
  // The pixels; nothing when the bytes are no PNG, are damaged, or decode to
  // more than maximumDecodedBytes.
  static std::optional<RgbaImage> decode(std::string_view png);
  // The PNG of an image, with the alpha channel only when some pixel is not
  // opaque; empty when libpng fails.
  static std::string encode(const RgbaImage& image, PngCompression compression = {});

  // The PNG scaled down to `size` (smaller than its own) with the area
  // filter: decoding, scaling and encoding run at once on three threads, each
  // taking rows as the one before finishes them. Empty when the PNG cannot
  // be read or is too large.
  static std::string scaledDown(std::string_view png, PixelSize size);
};

}  // namespace lumacap
