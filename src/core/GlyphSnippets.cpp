#include "core/GlyphSnippets.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <tuple>

#include "core/Unicode.h"

namespace lumacap {
namespace {

// A piece of a grid line: its line and its cells, the second excluded.
struct Piece {
  const GridLine* line;
  int first, end;
};

// Lays `pieces` of lines of one size side by side into snippet lines.
void layPieces(const GrayPixels& image, const std::vector<Piece>& pieces, std::vector<SnippetLine>& out) {
  int above = 0, below = 0;
  for (const Piece& piece : pieces) {
    const PixelRect& box = piece.line->box;
    above = std::max(above, piece.line->baseline - box.y);
    below = std::max(below, box.y + box.height - 1 - piece.line->baseline);
  }
  const double pitch = pieces.front().line->pitch;
  const int margin = static_cast<int>(std::lround(pitch * 2)), gap = static_cast<int>(std::lround(pitch * 3));
  SnippetLine* sheet = nullptr;
  int x = 0;
  const auto close = [&] {
    if (!sheet) return;
    sheet->width = x - gap + margin;
    sheet->grid.box = {0, 0, sheet->width, sheet->height};
    sheet->grid.cells.push_back({{}, x - gap, sheet->width, 0});
    // The pixels, a row of `widest` each so far, packed to the line's width.
    std::vector<uint8_t> packed(static_cast<size_t>(sheet->width) * static_cast<size_t>(sheet->height));
    for (int y = 0; y < sheet->height; ++y)
      std::copy_n(sheet->pixels.begin() + static_cast<long>(y) * GlyphSnippets::widest, sheet->width,
                  packed.begin() + static_cast<long>(y) * sheet->width);
    sheet->pixels = std::move(packed);
    sheet = nullptr;
  };
  for (const Piece& piece : pieces) {
    const GridLine& line = *piece.line;
    const int from = line.cells[static_cast<size_t>(piece.first)].from;
    const int to = line.cells[static_cast<size_t>(piece.end - 1)].to;
    if (sheet && x + (to - from) + margin > GlyphSnippets::widest) close();
    if (!sheet) {
      sheet = &out.emplace_back();
      sheet->height = above + below + 1;
      sheet->pixels.assign(static_cast<size_t>(GlyphSnippets::widest) * static_cast<size_t>(sheet->height),
                           255);
      sheet->grid.pitch = pitch;
      sheet->grid.baseline = above;
      sheet->grid.background = 255;
      sheet->grid.cells.push_back({{}, 0, margin, 0});
      x = margin;
    } else {
      sheet->grid.cells.push_back({{}, x - gap, x, 0});
    }
    // Ink as dark as it stands out from the line's background, in any colour.
    const int top = line.box.y, dy = above - (line.baseline - top);
    int strongest = 1;
    for (int y = top; y < top + line.box.height; ++y) {
      const uint8_t* row = image.bits + static_cast<long>(y) * image.stride;
      for (int column = from; column < to; ++column)
        strongest = std::max(strongest, std::abs(row[column] - line.background));
    }
    for (int y = top; y < top + line.box.height; ++y) {
      const uint8_t* row = image.bits + static_cast<long>(y) * image.stride;
      uint8_t* target = sheet->pixels.data() + static_cast<long>(y - top + dy) * GlyphSnippets::widest + x;
      for (int column = from; column < to; ++column)
        target[column - from] =
            static_cast<uint8_t>(255 - std::abs(row[column] - line.background) * 255 / strongest);
    }
    const int dx = x - from;
    for (int at = piece.first; at < piece.end; ++at) {
      GlyphCell cell = line.cells[static_cast<size_t>(at)];
      cell.from += dx, cell.to += dx;
      if (cell.key) cell.ink.x += dx, cell.ink.y += dy - top;
      sheet->grid.cells.push_back(cell);
    }
    sheet->pieces.emplace_back(x, x + (to - from));
    x += (to - from) + gap;
  }
  close();
}

}  // namespace

std::vector<SnippetLine> GlyphSnippets::lay(const GrayPixels& image,
                                            const std::vector<const GridLine*>& lines,
                                            const std::unordered_map<uint64_t, GlyphReading>& known,
                                            int round) {
  const int shift =
      std::array<int, 3>{0, context / 2 + 1, -(context / 2 + 1)}[static_cast<size_t>(round % 3)];
  std::unordered_map<uint64_t, int> placed;  // pieces cut so far for each unread glyph
  // Pieces by the size of their lines' text: one snippet line holds one size.
  std::map<std::pair<int, long>, std::vector<Piece>> bySize;
  const auto unread = [&](uint64_t key) { return key && !known.contains(key); };
  for (const GridLine* line : lines) {
    const int count = static_cast<int>(line->cells.size());
    std::vector<Piece> pieces;
    std::set<uint64_t> inPiece;
    const auto finish = [&] {
      if (pieces.empty()) return;
      Piece& piece = pieces.back();
      while (piece.first < piece.end && !line->cells[static_cast<size_t>(piece.first)].key) ++piece.first;
      while (piece.end > piece.first && !line->cells[static_cast<size_t>(piece.end - 1)].key) --piece.end;
      int glyphs = 0;
      for (int at = piece.first; at < piece.end; ++at)
        glyphs += line->cells[static_cast<size_t>(at)].key != 0;
      if (glyphs < fewestGlyphs) {
        pieces.pop_back();
      } else {
        for (uint64_t key : inPiece) ++placed[key];
      }
      inPiece.clear();
    };
    for (int at = 0; at < count; ++at) {
      const uint64_t key = line->cells[static_cast<size_t>(at)].key;
      if (!unread(key) || inPiece.contains(key) || placed[key] >= placesEach) continue;
      const int end = std::clamp(at + context + 1 + shift, at + 1, count);
      if (!pieces.empty() && !inPiece.empty() && at < pieces.back().end + 2 &&
          end - pieces.back().first <= longestPiece) {
        pieces.back().end = end;
      } else {
        finish();
        pieces.push_back({line, std::clamp(at - context + shift, 0, at), end});
      }
      for (int cell = pieces.back().first; cell < pieces.back().end; ++cell) {
        const uint64_t inside = line->cells[static_cast<size_t>(cell)].key;
        if (unread(inside)) inPiece.insert(inside);
      }
    }
    finish();
    auto& same = bySize[{line->box.height, std::lround(line->pitch * 4)}];
    same.insert(same.end(), pieces.begin(), pieces.end());
  }
  std::vector<SnippetLine> out;
  for (const auto& [size, pieces] : bySize) {
    if (!pieces.empty()) layPieces(image, pieces, out);
  }
  return out;
}

std::vector<std::pair<uint64_t, std::string>> GlyphSnippets::taught(
    const SnippetLine& line, const std::vector<SnippetWord>& words,
    const std::unordered_map<uint64_t, GlyphReading>& known, size_t* pieces) {
  std::vector<std::pair<uint64_t, std::string>> learnt;
  for (const auto& [from, to] : line.pieces) {
    std::map<uint64_t, std::string> read;
    bool agrees = true;
    for (const SnippetWord& word : words) {
      const int centre = (word.left + word.right) / 2;
      if (centre < from || centre >= to) continue;
      const std::vector<uint64_t> keys = GlyphGrid::cellsUnder(line.grid, word.left, word.right);
      const std::vector<std::string> characters = unicode::graphemes(word.text);
      // A word not read as one character a cell (a glyph missed, split or
      // merged) says nothing of its cells.
      if (keys.empty() || keys.size() != characters.size()) continue;
      for (size_t at = 0; agrees && at < keys.size(); ++at) {
        const auto before = known.find(keys[at]);
        const auto [kept, fresh] = read.emplace(keys[at], characters[at]);
        agrees = (fresh || kept->second == characters[at]) &&
                 (before == known.end() || before->second.text == characters[at]);
      }
    }
    if (!agrees || read.empty()) continue;
    if (pieces) ++*pieces;
    learnt.insert(learnt.end(), read.begin(), read.end());
  }
  return learnt;
}

}  // namespace lumacap
