#pragma once

#include <QByteArray>
#include <QFuture>
#include <string>

class QImage;

namespace lumacap {

// The system clipboard. Each write replaces everything that was there.
class Pasteboard {
 public:
  virtual ~Pasteboard() = default;

  // Offers one plain text (text/plain) and nothing else.
  virtual void setText(const std::string& text) = 0;
  // Offers one image in the image types other applications paste (image/png
  // and the toolkit's own image data), with no text, path or file URL. `png`
  // is the image's PNG encoding, which may still be under way on a worker:
  // the image is on offer at once and the bytes are handed out when asked for.
  // The answer says whether the selection really holds this offer once the
  // desktop had its say: some desktops drop an offer from a program that has
  // no focused window, without telling it.
  virtual QFuture<bool> setImage(const QImage& image, QFuture<QByteArray> png) = 0;
};

}  // namespace lumacap
