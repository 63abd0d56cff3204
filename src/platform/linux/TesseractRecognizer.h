#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/TextRecognizer.h"

namespace tesseract {
class TessBaseAPI;
}

namespace lumacap {

// Text recognition with Tesseract 5 and its English data. The engine and its
// data load on the first recognition and are reused until released; calls
// from several threads take turns on it.
class TesseractRecognizer final : public TextRecognizer {
 public:
  TesseractRecognizer();
  ~TesseractRecognizer() override;
  TesseractRecognizer(const TesseractRecognizer&) = delete;
  TesseractRecognizer& operator=(const TesseractRecognizer&) = delete;

  // The one recognizer of the process. It is never destroyed, so a
  // recognition still running while the process exits cannot touch freed
  // memory.
  static std::shared_ptr<TesseractRecognizer> shared();

  // Lines in Tesseract's reading order with its confidence scaled to 0…1;
  // an empty list when the image is empty, the data cannot be loaded or
  // recognition fails.
  std::vector<RecognizedLine> recognize(const QImage& image) override;
  // Ends the engine (tens of megabytes of trained data) and hands the
  // libraries' pages back to the kernel; the next recognition loads both
  // again, in about a tenth of a second.
  void releaseResources() override;

  // Where the English data is looked up: TESSDATA_PREFIX when set (Tesseract
  // reads it itself, so nothing is returned), else Debian's folder when it
  // holds the data, else Tesseract's built-in default (nothing).
  static std::optional<std::string> tessdataFolder();

  // The pixels Tesseract reads: one byte of gray per pixel, transparent parts
  // laid over white, and light-on-dark images (terminals) turned into dark
  // text on light, the polarity Tesseract's page layout analysis expects.
  static QImage preparedImage(const QImage& image);

 private:
  bool loaded();  // call with mutex_ held

  std::mutex mutex_;
  std::unique_ptr<tesseract::TessBaseAPI> api_;
  bool loadFailed_ = false;
};

}  // namespace lumacap
