#include "app/cli/PngImage.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

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

std::optional<RgbaImage> PngImage::decode(std::string_view png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return std::nullopt;
  image.format = PNG_FORMAT_RGBA;
  const size_t bytes = static_cast<size_t>(image.width) * image.height * 4;
  if (image.width == 0 || image.height == 0 || image.width > 1u << 30 || image.height > 1u << 30 ||
      bytes > maximumDecodedBytes) {
    png_image_free(&image);
    return std::nullopt;
  }
  RgbaImage result{static_cast<int>(image.width), static_cast<int>(image.height),
                   std::vector<uint8_t>(bytes)};
  if (!png_image_finish_read(&image, nullptr, result.pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return result;
}

namespace {

void append(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void flush(png_structp) {}

// Kept free of objects with destructors: libpng leaves it with longjmp.
bool write(const RgbaImage& image, bool opaque, std::string& bytes) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &bytes, append, flush);
  // A scaled image has smooth gradients, which the Sub filter shrinks by a
  // third for little time.
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  if (opaque) png_set_filler(png, 0, PNG_FILLER_AFTER);
  for (int y = 0; y < image.height; ++y)
    png_write_row(png, image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width) * 4);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::string PngImage::encode(const RgbaImage& image) {
  bool opaque = true;
  for (size_t i = 3; i < image.pixels.size() && opaque; i += 4) opaque = image.pixels[i] == 255;
  std::string bytes;
  bytes.reserve(image.pixels.size() / 4);
  if (!write(image, opaque, bytes)) return {};
  return bytes;
}

}  // namespace lumacap
