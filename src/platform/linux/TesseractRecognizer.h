#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>

#include "core/GlyphGrid.h"

#include "platform/TextRecognizer.h"

namespace tesseract {
class TessBaseAPI;
}

namespace lumacap {

// Text recognition with Tesseract 5 and its English data. By default the
// lines of text are found from the pixels first (TextLineFinder); lines on a
// monospaced grid (terminals, editors) are spelled from their glyphs
// (GlyphGrid) once every glyph of the line was read the same in earlier
// lines, of this recognition or an earlier one; the other lines are read one by one in Tesseract's
// single-line mode, on as many engines as the machine has cores (two at
// most; the engines' threads run at the caller's priority), each line turned
// dark on light by itself. Reading every line whole
// and the whole-page layout analysis are kept for comparison. The engines and their
// data load on the first recognition and are reused until released; calls
// from several threads take turns on them.
class TesseractRecognizer final : public TextRecognizer {
 public:
  enum class Layout {
    glyphs,       // lines found from the pixels, those on a grid of known glyphs spelled, the rest read
    glyphPieces,  // as glyphs, and glyphs not read yet first read in short pieces of their lines
    lines,        // lines found from the pixels, read in parallel
    page,         // Tesseract's own page layout analysis on one engine
  };
  static constexpr int mostEngines = 2;

  // Glyphs whose readings are kept across recognitions (a terminal's font
  // stays), and how many readings of a glyph must agree before lines are
  // spelled from it instead of read.
  static constexpr size_t mostGlyphsKept = 4096;
  static constexpr int agreeingReadings = 2;
  // Of this many lines on a grid or more not spelled, a third are read first.
  static constexpr size_t learnedFirst = 9;

  explicit TesseractRecognizer(Layout layout = Layout::glyphs);
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
  bool readsSecretCandidatesApart() const override { return layout_ != Layout::page; }
  // Ends the engines (tens of megabytes of trained data) and hands the
  // libraries' pages back to the kernel; the next recognition loads both
  // again, in about a tenth of a second.
  void releaseResources() override;
  // Loads the engines recognitions use (as many as the machine has cores,
  // two at most) and their data.
  void warmUp() override;
  // What the last recognition did with the lines on a grid (for measuring).
  struct GlyphStats {
    size_t gridLines = 0, unreadGlyphs = 0;  // glyphs not read before it, distinct
    size_t snippetLines = 0, pieces = 0, piecesTaught = 0;
    size_t spelled = 0, read = 0;  // grid lines spelled, lines read whole or in candidates
  };
  GlyphStats lastGlyphStats() {
    std::lock_guard lock(mutex_);
    return stats_;
  }
  // Forgets what glyphs read as, as for a font never seen (for measuring).
  void forgetGlyphs() {
    std::lock_guard lock(mutex_);
    votes_.clear();
    glyphs_.clear();
  }

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
  // What the glyphs of grid lines were read as in the lines read, by their
  // keys, and what they read as when the readings agree.
  void learnGlyphs(const GridLine& grid, const RecognizedLine& read);       // call with mutex_ held
  void vote(uint64_t key, const std::string& character, float confidence);  // call with mutex_ held
  // Reads the glyphs of `lines` not read yet in pieces of their lines: what
  // two pieces agree on is kept, a glyph read in one place only is put in
  // `once`; false when no engine loads.
  bool readSnippets(const std::vector<const GridLine*>& lines, const GrayPixels& pixels,
                    std::unordered_map<uint64_t, GlyphReading>& once);
  GlyphStats stats_;
  std::unordered_map<uint64_t, std::map<std::string, int>> votes_;
  std::unordered_map<uint64_t, GlyphReading> glyphs_;
  bool loadFailed_ = false;
};

}  // namespace lumacap
