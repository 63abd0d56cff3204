#pragma once

#include <QByteArray>
#include <QFuture>
#include <QImage>

class QThreadPool;

namespace lumacap {

// How hard the PNG encoder works: zlib's level and strategy and the row
// filters it tries (PNG_FILTER_* bits). Every setting is lossless.
struct PngSettings {
  int level = 1;
  int strategy = 0;    // Z_DEFAULT_STRATEGY
  int filters = 0x08;  // PNG_FILTER_NONE
};

// The settings for a capture, chosen by measurement on a 1920 × 1080 desktop
// of terminals full of coloured text (bench/capture_bench, BM_EncodePng):
// zlib's fastest level without row filters took 32 ms for 0.32 MB, where
// Qt's writer took 87 ms at level 1 (0.34 MB) and 126 ms at its default
// (0.32 MB), and the Sub, Up and Paeth filters were both slower and larger
// on text of flat colours.
constexpr PngSettings capturePng{};

// The PNG encoding of an image; empty when it cannot be encoded.
QByteArray encodePNG(const QImage& image, PngSettings settings = capturePng);

// The same on a worker thread, so that a large capture never stalls the GUI.
QFuture<QByteArray> encodePNGInBackground(QImage image);

// The thread captures are encoded on: one of their own, so that name
// suggestions and thumbnails never hold up the clipboard's PNG. It is never
// destroyed, so quitting does not wait for it.
QThreadPool& encodingPool();

}  // namespace lumacap
