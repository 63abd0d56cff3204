#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>

#include "platform/TextRecognizer.h"

namespace tesseract {
class TessBaseAPI;
}

namespace lumacap {

// Text recognition with Tesseract 5 and its English data. By default the
// lines of text are found from the pixels first (TextLineFinder) and read one
// by one in Tesseract's single-line mode, on as many engines as the machine
// has cores (two at most), each line turned dark on light by itself; the
// whole-page layout analysis is kept for comparison. The engines and their
// data load on the first recognition and are reused until released; calls
// from several threads take turns on them.
class TesseractRecognizer final : public TextRecognizer {
 public:
  enum class Layout {
    lines,  // lines found from the pixels, read in parallel
    page,   // Tesseract's own page layout analysis on one engine
  };
  static constexpr int mostEngines = 2;

  explicit TesseractRecognizer(Layout layout = Layout::lines);
  ~TesseractRecognizer() override;
  TesseractRecognizer(const TesseractRecognizer&) = delete;
  TesseractRecognizer& operator=(const TesseractRecognizer&) = delete;

  // The one recognizer of the process. It is never destroyed, so a
  // recognition still running while the process exits cannot touch freed
  // memory.
  static std::shared_ptr<TesseractRecognizer> shared();

  // Lines in reading order with Tesseract's confidence scaled to 0…1, their
  // words with the boxes of their characters; an empty list when the image
  // is empty, the data cannot be loaded or recognition fails.
  std::vector<RecognizedLine> recognize(const QImage& image) override;
  // With lines found from the pixels: only the parts of them that can hold
  // a secret (SecretCandidates), each part a line of the result. A
  // recognize() of the same image right after reads only the rest.
  std::vector<RecognizedLine> recognizeSecretCandidates(const QImage& image) override;
  bool readsSecretCandidatesApart() const override { return layout_ == Layout::lines; }
  // Ends the engines (tens of megabytes of trained data) and hands the
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
  bool loaded(size_t engines);  // call with mutex_ held
  std::vector<RecognizedLine> recognizePage(const QImage& image);
  std::vector<RecognizedLine> recognizeLines(const QImage& image, bool candidatesOnly);

  const Layout layout_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<tesseract::TessBaseAPI>> engines_;
  // What the last reading of candidates read, by the box of each part, until
  // the next recognition: reading the same image whole then reads the rest.
  struct CandidatesRead {
    qint64 image = 0;
    std::map<std::tuple<int, int, int, int>, RecognizedLine> read;
  };
  CandidatesRead candidates_;
  bool loadFailed_ = false;
};

}  // namespace lumacap
