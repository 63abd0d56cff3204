#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/ScreenGeometry.h"
#include "core/TextLineFinder.h"

namespace lumacap {

// One cell of a line on a glyph grid: the box of its ink (empty for a
// blank cell, a space) and the key of its glyph.
struct GlyphCell {
  PixelRect ink;
  int from = 0, to = 0;  // the cell's columns, `to` excluded
  uint64_t key = 0;      // 0 for a blank cell
};

// A line whose text sits on a grid of equal cells, `pitch` pixels wide from
// `origin` (fractions of a pixel: fonts' advances are rarely whole), cut
// into its cells.
struct GridLine {
  PixelRect box;
  double pitch = 0;
  double origin = 0;
  int baseline = 0;    // the row most glyphs stand on
  int background = 0;  // the line's most common gray
  std::vector<GlyphCell> cells;
};

// What a glyph reads as: one character (UTF-8) and how sure the reading is.
struct GlyphReading {
  std::string text;  // empty: no single confident character
  float confidence = 0;
};

// A line spelled from its glyphs: words are runs of non-blank cells, each
// character's box the ink of its cell.
struct SpelledWord {
  std::string text;
  PixelRect bounds;
  std::vector<PixelRect> glyphs;
};
struct SpelledLine {
  std::string text;
  float confidence = 0;
  PixelRect bounds;
  std::vector<SpelledWord> words;
};

// Terminals and editors set text on a grid of equal cells, and every
// occurrence of a character there is the same pixels (one font, one
// position within a pixel). Such a line is cut into cells, each cell's ink
// told apart from the line's background (whatever the text's colour) and
// keyed by its bitmap, and the line spelled from what each key reads as
// once the recognizer has read it. Lines that are not on a
// grid (proportional text) are not cut.
class GlyphGrid {
 public:
  // A pixel this far from the line's background in gray is ink.
  static constexpr int inkContrast = 40;

  // A glyph's width from the columns of a line holding ink: the most common
  // distance from the start of one piece of ink to the next among those a
  // glyph's width could be (a third to nine tenths of the ink's height);
  // half the height when too few pieces tell. Whole pixels.
  static double glyphWidth(const std::vector<bool>& inkedColumns, int inkHeight);

  // The line cut into cells when its ink sits on a grid; nothing for
  // proportional text, and for lines too short to tell. `hint`, a grid
  // found on a line before, is tried first (lines of one block share the
  // pitch).
  static std::optional<GridLine> cut(const GrayPixels& image, const PixelRect& line,
                                     const GridLine* hint = nullptr);

  // The keys of the non-blank cells whose ink is centred between `left` and
  // `right` (a word read from the line), in order, when they follow each
  // other without a blank cell between; nothing otherwise.
  static std::vector<uint64_t> cellsUnder(const GridLine& line, int left, int right);

  // The line spelled from the glyphs' readings; nothing when a glyph is not
  // read.
  static std::optional<SpelledLine> spell(const GridLine& line,
                                          const std::unordered_map<uint64_t, GlyphReading>& readings);
};

}  // namespace lumacap
