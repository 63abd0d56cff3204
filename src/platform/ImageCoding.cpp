#include "platform/ImageCoding.h"

#include <png.h>

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <csetjmp>

namespace lumacap {
namespace {

void append(png_structp png, png_bytep data, png_size_t length) {
  static_cast<QByteArray*>(png_get_io_ptr(png))
      ->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
}

void flush(png_structp) {}

// Writes `image` (RGB32 or ARGB32) into `bytes`; false on a libpng error.
// Kept free of objects with destructors: libpng leaves it with longjmp.
bool write(const QImage& image, const PngSettings& settings, QByteArray& bytes) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &bytes, append, flush);
  png_set_compression_level(png, settings.level);
  png_set_compression_strategy(png, settings.strategy);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, settings.filters);
  const bool opaque = image.format() == QImage::Format_RGB32;
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()),
               8, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  // Qt keeps pixels as 32-bit 0xAARRGGBB words: B, G, R, A in memory.
  png_set_bgr(png);
  if (opaque) png_set_filler(png, 0, PNG_FILLER_AFTER);
  for (int y = 0; y < image.height(); ++y) png_write_row(png, image.constScanLine(y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

QByteArray encodePNG(const QImage& image, PngSettings settings) {
  if (image.isNull()) return {};
  const bool opaque = !image.hasAlphaChannel();
  const QImage pixels = image.convertToFormat(opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
  QByteArray bytes;
  bytes.reserve(static_cast<qsizetype>(pixels.sizeInBytes() / 4));
  if (!write(pixels, settings, bytes)) return {};
  return bytes;
}

QThreadPool& encodingPool() {
  static QThreadPool* const pool = [] {
    auto* created = new QThreadPool;
    created->setMaxThreadCount(1);
    return created;
  }();
  return *pool;
}

QFuture<QByteArray> encodePNGInBackground(QImage image) {
  return QtConcurrent::run(&encodingPool(), [image = std::move(image)] { return encodePNG(image); });
}

}  // namespace lumacap
