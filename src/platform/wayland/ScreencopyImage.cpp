#include "platform/wayland/ScreencopyImage.h"

#include <wayland-client-protocol.h>

#include <optional>
#include <stdexcept>
#include <string>

namespace lumacap {
namespace {

// The QImage format whose memory layout equals the wl_shm format (both
// describe little-endian words).
std::optional<QImage::Format> qtFormatOf(uint32_t format) {
  switch (format) {
    case WL_SHM_FORMAT_ARGB8888:
    case WL_SHM_FORMAT_XRGB8888:
      return QImage::Format_RGB32;
    case WL_SHM_FORMAT_ABGR8888:
    case WL_SHM_FORMAT_XBGR8888:
      return QImage::Format_RGBX8888;
    case WL_SHM_FORMAT_XRGB2101010:
    case WL_SHM_FORMAT_ARGB2101010:
      return QImage::Format_RGB30;
    case WL_SHM_FORMAT_XBGR2101010:
    case WL_SHM_FORMAT_ABGR2101010:
      return QImage::Format_BGR30;
    case WL_SHM_FORMAT_RGB565:
      return QImage::Format_RGB16;
    case WL_SHM_FORMAT_BGR888:  // bytes R, G, B
      return QImage::Format_RGB888;
    default:
      return std::nullopt;
  }
}

}  // namespace

bool isReadableScreencopyFormat(uint32_t format) { return qtFormatOf(format).has_value(); }

QImage screencopyImage(const ScreencopyBuffer& buffer, const uchar* pixels) {
  const std::optional<QImage::Format> format = qtFormatOf(buffer.format);
  if (!format) {
    throw std::runtime_error(
        "The compositor offers the screen in a pixel format Lumacap cannot read (wl_shm " +
        std::to_string(buffer.format) + ").");
  }
  // Formats with alpha are read as their opaque twins: the alpha bits are
  // not cleared, so forcing them happens in the conversion below.
  const QImage view(pixels, buffer.width, buffer.height, buffer.stride, *format);
  QImage image = view.convertToFormat(QImage::Format_RGB32);
  if (image.constBits() == view.constBits()) image = view.copy();
  auto* words = reinterpret_cast<uint32_t*>(image.bits());
  const qsizetype count = image.sizeInBytes() / 4;
  for (qsizetype i = 0; i < count; ++i) words[i] |= 0xFF000000u;
  if (buffer.yInverted) image = image.mirrored(false, true);
  return image;
}

}  // namespace lumacap
