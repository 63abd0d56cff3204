#pragma once

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
  // and the toolkit's own image data), with no text, path or file URL.
  virtual void setImage(const QImage& image) = 0;
};

}  // namespace lumacap
