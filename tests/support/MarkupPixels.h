#pragma once

#include <QRgb>

namespace lumacap {

// A pixel of the mark-up's default red, allowing for antialiasing.
inline bool reddish(QRgb pixel) { return qRed(pixel) > 180 && qGreen(pixel) < 120 && qBlue(pixel) < 120; }

}  // namespace lumacap
