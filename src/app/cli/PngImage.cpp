#include "app/cli/PngImage.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <thread>

namespace lumacap {

std::optional<PixelSize> PngImage::size(std::string_view png) {
  // The signature, then the IHDR chunk: length, type, width, height.
  static constexpr unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (png.size() < 24 || std::memcmp(png.data(), signature, 8) != 0 || png.substr(12, 4) != "IHDR")
    return std::nullopt;
  const auto number = [&](size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(png[at + i]);
    return value;
  };
  const uint32_t width = number(16), height = number(20);
  if (width == 0 || height == 0 || width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX) return std::nullopt;
  return PixelSize{static_cast<int>(width), static_cast<int>(height)};
}

namespace {

struct Source {
  std::string_view bytes;
  size_t offset = 0;
};

void take(png_structp png, png_bytep data, png_size_t length) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (length > source->bytes.size() - source->offset) png_error(png, "truncated");
  std::memcpy(data, source->bytes.data() + source->offset, length);
  source->offset += length;
}

// Decodes into `image`, which already holds the pixels of the size the
// header gives, publishing rows in `progress` (all at the end for an
// interlaced image) and whether the image may hold transparency in `opaque`
// before the first. Kept free of objects with destructors: libpng leaves it
// with longjmp.
bool read(Source& source, RgbaImage& image, RowProgress& progress, bool& opaque) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &source, take);
  // The chunks' CRCs already guard the data; zlib's second checksum took a
  // sixth of the time decoding a 4K capture (bench/mcp_bench, stageDecode4K).
  // A libpng built without the option (Debian 13's) keeps checking it.
#ifdef PNG_IGNORE_ADLER32
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  if (static_cast<int>(width) != image.width || static_cast<int>(height) != image.height)
    png_error(png, "not the size of its header");
  opaque =
      !(png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS);
  // Whatever the file holds becomes 8-bit RGBA, without colour handling: a
  // capture is sRGB.
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t{width} * 4) png_error(png, "unexpected row size");
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, image.pixels.data() + size_t{y} * width * 4, nullptr);
      if (pass == passes - 1) progress.publish(static_cast<int>(y + 1));
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

void append(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void flush(png_structp) {}

// Encodes the rows of `image` as `progress` publishes them; `opaque` is read
// once the first is there. Kept free of objects with destructors.
bool write(const RgbaImage& image, const bool& opaque, const RowProgress& progress,
           PngCompression compression, std::string& bytes) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png)) || !progress.waitFor(1)) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &bytes, append, flush);
  // Measured on a scaled 4K desktop of text (bench/mcp_bench): no filter
  // gave the smallest file in the least time; Sub and Up were larger.
  png_set_compression_level(png, compression.level);
  png_set_compression_strategy(png, compression.strategy);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, compression.filters);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  if (opaque) png_set_filler(png, 0, PNG_FILLER_AFTER);
  for (int y = 0; y < image.height; ++y) {
    if (!progress.waitFor(y + 1)) {
      png_destroy_write_struct(&png, &info);
      return false;
    }
    png_write_row(png, image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width) * 4);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

std::optional<RgbaImage> allocated(std::optional<PixelSize> size) {
  if (!size || static_cast<size_t>(size->width) * static_cast<size_t>(size->height) * 4 >
                   PngImage::maximumDecodedBytes)
    return std::nullopt;
  return RgbaImage{
      size->width, size->height,
      std::vector<uint8_t>(static_cast<size_t>(size->width) * static_cast<size_t>(size->height) * 4)};
}

}  // namespace

std::optional<RgbaImage> PngImage::decode(std::string_view png) {
  std::optional<RgbaImage> image = allocated(size(png));
  Source source{png};
  RowProgress progress;
  bool opaque = true;
  if (!image || !read(source, *image, progress, opaque)) return std::nullopt;
  return image;
}

std::string PngImage::encode(const RgbaImage& image, PngCompression compression) {
  bool opaque = true;
  for (size_t i = 3; i < image.pixels.size() && opaque; i += 4) opaque = image.pixels[i] == 255;
  RowProgress whole;
  whole.publish(image.height);
  std::string bytes;
  bytes.reserve(image.pixels.size() / 4);
  if (!write(image, opaque, whole, compression, bytes)) return {};
  return bytes;
}

std::string PngImage::scaledDown(std::string_view png, PixelSize size) {
  std::optional<RgbaImage> source = allocated(PngImage::size(png));
  if (!source) return {};
  RgbaImage result{
      size.width, size.height,
      std::vector<uint8_t>(static_cast<size_t>(size.width) * static_cast<size_t>(size.height) * 4)};
  RowProgress decoded, scaled;
  bool opaque = true;
  bool written = false;
  std::string bytes;
  bytes.reserve(result.pixels.size() / 4);
  {
    // Each thread ends on its own whatever the others do: a failure is
    // passed on as a failed progress, never left waiting.
    std::jthread decoder([&] {
      Source input{png};
      if (!read(input, *source, decoded, opaque)) decoded.fail();
    });
    std::jthread encoder;
    try {
      encoder = std::jthread([&] { written = write(result, opaque, scaled, {}, bytes); });
      downscaleInto(*source, opaque, decoded, result, scaled);
    } catch (...) {
      scaled.fail();
      throw;
    }
  }
  return written ? bytes : std::string();
}

}  // namespace lumacap
