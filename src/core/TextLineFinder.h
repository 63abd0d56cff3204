#pragma once

#include <cstdint>
#include <vector>

#include "core/ScreenGeometry.h"

namespace lumacap {

// Eight bits of gray per pixel, rows `stride` bytes apart; not owned.
struct GrayPixels {
  const uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;
  long stride = 0;
};

// Finds the lines of text in a screenshot from its pixels alone, before any
// recognition: the ink is where neighbouring pixels differ sharply (glyphs on
// any background, light or dark, several in one image), its connected pieces
// of a glyph's height are grouped into lines by their vertical overlap and
// the gaps between them. Window borders, rules and pictures are taller than
// text and are left out. Terminals and editors set text on a regular grid,
// which is what this relies on; anything it finds is still read by the
// recognizer, which decides what the pixels say.
class TextLineFinder {
 public:
  // Pieces between these heights (in pixels) are glyphs.
  static constexpr int shortestGlyph = 4;
  static constexpr int tallestGlyph = 72;

  // The lines' boxes with a margin of background around the ink, in reading
  // order: by rows from the top, each row from the left. Lines of one row
  // more than a few characters apart (two windows side by side, columns of a
  // listing) are separate lines.
  static std::vector<PixelRect> lines(const GrayPixels& image);
};

}  // namespace lumacap
