#include "platform/x11/QtPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include "platform/ReadyFuture.h"

namespace lumacap {
namespace {

constexpr auto qtPasteboardPngType = "image/png";

// An image whose PNG bytes are encoded elsewhere: a pasting application that
// asks for image/png gets those bytes instead of a second, slower encoding.
class EncodedImageData final : public QMimeData {
 public:
  EncodedImageData(const QImage& image, QFuture<QByteArray> png) : png_(std::move(png)) {
    setImageData(image);
  }

  QStringList formats() const override {
    QStringList types = QMimeData::formats();
    if (!types.contains(qtPasteboardPngType)) types.prepend(qtPasteboardPngType);
    return types;
  }

 protected:
  QVariant retrieveData(const QString& type, QMetaType preferred) const override {
    if (type == qtPasteboardPngType) {
      png_.waitForFinished();
      if (png_.resultCount() > 0 && !png_.result().isEmpty()) return png_.result();
    }
    return QMimeData::retrieveData(type, preferred);
  }

 private:
  mutable QFuture<QByteArray> png_;
};

}  // namespace

void QtPasteboard::setText(const std::string& text) {
  auto* data = new QMimeData;
  data->setText(QString::fromStdString(text));  // text/plain, nothing else
  QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

QFuture<bool> QtPasteboard::setImage(const QImage& image, QFuture<QByteArray> png) {
  QGuiApplication::clipboard()->setMimeData(new EncodedImageData(image, std::move(png)),
                                            QClipboard::Clipboard);
  return readyFuture(true);
}

}  // namespace lumacap
