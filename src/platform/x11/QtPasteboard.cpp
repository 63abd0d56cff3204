#include "platform/x11/QtPasteboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

namespace lumacap {

void QtPasteboard::setText(const std::string& text) {
  auto* data = new QMimeData;
  data->setText(QString::fromStdString(text));  // text/plain, nothing else
  QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

void QtPasteboard::setImage(const QImage& image) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  auto* data = new QMimeData;
  data->setImageData(image);
  data->setData("image/png", png);
  QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

}  // namespace lumacap
