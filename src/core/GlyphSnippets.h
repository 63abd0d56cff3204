#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/GlyphGrid.h"

namespace lumacap {

// Short pieces of grid lines, cut around glyphs not read yet, laid side by
// side with wide gaps into a line of their own: dark text on white, each
// piece standing on one baseline.
struct SnippetLine {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;              // one gray byte a pixel, `width` a row
  GridLine grid;                            // the pieces' cells where they now stand, blank cells between
  std::vector<std::pair<int, int>> pieces;  // each piece's columns, the second excluded
};

// A word read from a snippet line: its text and first and last column.
struct SnippetWord {
  std::string text;
  int left = 0, right = 0;
};

// Reading every line that holds a glyph not read yet costs as much as
// reading them all. A single glyph alone is misread (`l` for `t`, `c` for
// `e`), but a few cells of its line around it are read as well as the whole
// line: the pieces around the unread glyphs of many lines are read at once,
// in one line, and what each piece reads as is laid back over its cells.
class GlyphSnippets {
 public:
  // Cells kept each side of an unread glyph, and the fewest glyphs a piece
  // holds: words in context read well, lone glyphs do not.
  static constexpr int context = 5;
  static constexpr int fewestGlyphs = 4;
  // A piece grows over the unread glyphs near it up to this many cells.
  static constexpr int longestPiece = 24;
  // Pieces cut for one unread glyph, each in another place, so that two
  // readings in different contexts can agree.
  static constexpr int placesEach = 2;
  // The widest snippet line, in pixels: several lines share the cores.
  static constexpr int widest = 1600;

  // The snippet lines for the glyphs of `lines` that `known` does not hold;
  // each `round` puts the pieces' context elsewhere around their glyphs.
  static std::vector<SnippetLine> lay(const GrayPixels& image, const std::vector<const GridLine*>& lines,
                                      const std::unordered_map<uint64_t, GlyphReading>& known, int round = 0);

  // What the words read from `line` teach: each key of a piece and the
  // character it read as, once a piece, from the words read as one
  // character a cell. A piece where a glyph known before read otherwise, or
  // a glyph read as two characters (the words laid a cell off), teaches
  // nothing. `pieces`, when given, counts the pieces that taught.
  static std::vector<std::pair<uint64_t, std::string>> taught(
      const SnippetLine& line, const std::vector<SnippetWord>& words,
      const std::unordered_map<uint64_t, GlyphReading>& known, size_t* pieces = nullptr);
};

}  // namespace lumacap
