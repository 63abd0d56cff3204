#include "platform/ImageCoding.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtConcurrent/QtConcurrentRun>

namespace lumacap {

QByteArray encodePNG(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "png");
  writer.setQuality(80);  // compression level 1
  if (image.isNull() || !writer.write(image)) return {};
  return bytes;
}

QFuture<QByteArray> encodePNGInBackground(QImage image) {
  return QtConcurrent::run([image = std::move(image)] { return encodePNG(image); });
}

}  // namespace lumacap
