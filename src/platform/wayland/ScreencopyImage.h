#pragma once

#include <QImage>
#include <cstdint>

namespace lumacap {

// One frame as a wlroots compositor copies it into shared memory: a wl_shm
// pixel format, its size and stride, and whether rows run bottom to top.
struct ScreencopyBuffer {
  uint32_t format = 0;  // a WL_SHM_FORMAT_* value
  int width = 0;
  int height = 0;
  int stride = 0;
  bool yInverted = false;
};

// Whether Lumacap can read frames in this wl_shm format.
bool isReadableScreencopyFormat(uint32_t format);

// The frame as an opaque image (Format_RGB32), rows top to bottom: the
// screen has no transparency, whatever the format's alpha channel holds.
// Throws for a format Lumacap cannot read.
QImage screencopyImage(const ScreencopyBuffer& buffer, const uchar* pixels);

}  // namespace lumacap
