#include "core/TextLineFinder.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>

namespace lumacap {
namespace {

// Neighbouring pixels this far apart in gray are an edge of ink.
constexpr int contrast = 28;
// Edges this close on a row belong to one stroke.
constexpr int bridged = 2;
// Pieces of one line are at most this many line heights apart (about six
// characters of a monospaced font).
constexpr double widestGap = 3.5;

struct Box {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // inclusive
  int height() const { return y1 - y0 + 1; }
  int width() const { return x1 - x0 + 1; }
};

int overlap(int a0, int a1, int b0, int b1) { return std::min(a1, b1) - std::max(a0, b0) + 1; }

// A horizontal run of edges on one row.
struct Run {
  int y, x0, x1;
};

int root(std::vector<int>& parents, int at) {
  while (parents[static_cast<size_t>(at)] != at) {
    const int up = parents[static_cast<size_t>(parents[static_cast<size_t>(at)])];
    parents[static_cast<size_t>(at)] = up;
    at = up;
  }
  return at;
}

// The connected pieces of ink (runs touching from row to row, diagonals too).
std::vector<Box> inkPieces(const GrayPixels& image) {
  std::vector<Run> runs;
  std::vector<size_t> rowStart(static_cast<size_t>(image.height) + 1);
  for (int y = 0; y < image.height; ++y) {
    rowStart[static_cast<size_t>(y)] = runs.size();
    const uint8_t* row = image.bits + static_cast<long>(y) * image.stride;
    int open = -1, last = 0;
    for (int x = 0; x + 1 < image.width; ++x) {
      if (std::abs(row[x + 1] - row[x]) < contrast) continue;
      if (open >= 0 && x - last <= bridged + 1) {
        last = x;
        continue;
      }
      if (open >= 0) runs.push_back({y, open, last + 1});
      open = last = x;
    }
    if (open >= 0) runs.push_back({y, open, last + 1});
  }
  rowStart[static_cast<size_t>(image.height)] = runs.size();

  std::vector<int> parents(runs.size());
  std::iota(parents.begin(), parents.end(), 0);
  for (int y = 1; y < image.height; ++y) {
    size_t above = rowStart[static_cast<size_t>(y - 1)];
    const size_t aboveEnd = rowStart[static_cast<size_t>(y)];
    for (size_t at = aboveEnd; at < rowStart[static_cast<size_t>(y) + 1]; ++at) {
      while (above < aboveEnd && runs[above].x1 + 1 < runs[at].x0) ++above;
      for (size_t other = above; other < aboveEnd && runs[other].x0 <= runs[at].x1 + 1; ++other) {
        const int a = root(parents, static_cast<int>(at)), b = root(parents, static_cast<int>(other));
        if (a != b) parents[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
      }
    }
  }
  std::vector<int> pieceOf(runs.size(), -1);
  std::vector<Box> pieces;
  for (size_t at = 0; at < runs.size(); ++at) {
    const size_t top = static_cast<size_t>(root(parents, static_cast<int>(at)));
    const Run& run = runs[at];
    if (pieceOf[top] < 0) {
      pieceOf[top] = static_cast<int>(pieces.size());
      pieces.push_back({run.x0, run.y, run.x1, run.y});
      continue;
    }
    Box& box = pieces[static_cast<size_t>(pieceOf[top])];
    box.x0 = std::min(box.x0, run.x0);
    box.x1 = std::max(box.x1, run.x1);
    box.y1 = std::max(box.y1, run.y);
  }
  return pieces;
}

int gapAllowed(const Box& line) { return static_cast<int>(widestGap * line.height()); }

}  // namespace

std::vector<PixelRect> TextLineFinder::lines(const GrayPixels& image) {
  if (!image.bits || image.width < 2 || image.height < 2) return {};
  std::vector<Box> pieces = inkPieces(image);
  std::erase_if(pieces, [](const Box& piece) { return piece.height() > tallestGlyph; });
  std::sort(pieces.begin(), pieces.end(), [](const Box& a, const Box& b) { return a.x0 < b.x0; });

  // Pieces of a glyph's height, left to right, join the line they overlap
  // most within reach; a piece much taller than a line starts its own.
  std::vector<Box> lines;
  std::vector<size_t> open;  // lines a later piece may still reach
  std::vector<const Box*> small;
  for (const Box& piece : pieces) {
    if (piece.height() < shortestGlyph) {
      small.push_back(&piece);
      continue;
    }
    std::erase_if(open, [&](size_t at) { return piece.x0 - lines[at].x1 > gapAllowed(lines[at]); });
    size_t best = lines.size();
    int bestOverlap = 0;
    for (size_t at : open) {
      const Box& line = lines[at];
      const int shared = overlap(line.y0, line.y1, piece.y0, piece.y1);
      if (shared * 2 < std::min(line.height(), piece.height()) || shared <= bestOverlap) continue;
      if (piece.height() * 2 > line.height() * 3 + 4) continue;
      best = at;
      bestOverlap = shared;
    }
    if (best == lines.size()) {
      open.push_back(lines.size());
      lines.push_back(piece);
      continue;
    }
    Box& line = lines[best];
    line = {std::min(line.x0, piece.x0), std::min(line.y0, piece.y0), std::max(line.x1, piece.x1),
            std::max(line.y1, piece.y1)};
  }
  std::erase_if(lines,
                [](const Box& line) { return line.height() < 6 || line.width() * 5 < line.height() * 4; });

  // Dots, dashes and underscores lengthen the line they sit in, on either side.
  for (int pass = 0; pass < 2; ++pass) {
    for (const Box* piece : small) {
      for (Box& line : lines) {
        const int middle = (piece->y0 + piece->y1) / 2;
        if (middle < line.y0 || middle > line.y1) continue;
        const int gap = std::max(piece->x0 - line.x1, line.x0 - piece->x1);
        if (gap > gapAllowed(line)) continue;
        line.x0 = std::min(line.x0, piece->x0);
        line.x1 = std::max(line.x1, piece->x1);
        break;
      }
    }
    std::reverse(small.begin(), small.end());
  }

  // Reading order: rows from the top, each row from the left.
  std::sort(lines.begin(), lines.end(), [](const Box& a, const Box& b) { return a.y0 < b.y0; });
  for (size_t first = 0; first < lines.size();) {
    size_t end = first + 1;
    const int middle = (lines[first].y0 + lines[first].y1) / 2;
    while (end < lines.size() && lines[end].y0 <= middle) ++end;
    std::sort(lines.begin() + static_cast<long>(first), lines.begin() + static_cast<long>(end),
              [](const Box& a, const Box& b) { return a.x0 < b.x0; });
    first = end;
  }

  std::vector<PixelRect> result;
  result.reserve(lines.size());
  for (const Box& line : lines) {
    // The margin stops short of the ink of the lines above and below.
    const int margin = std::max(3, line.height() / 3);
    int top = std::max(0, line.y0 - margin), bottom = std::min(image.height - 1, line.y1 + margin);
    for (const Box& other : lines) {
      if (overlap(line.x0, line.x1, other.x0, other.x1) <= 0) continue;
      if (other.y1 < line.y0) top = std::max(top, other.y1 + 1);
      if (other.y0 > line.y1) bottom = std::min(bottom, other.y0 - 1);
    }
    const int left = std::max(0, line.x0 - margin), right = std::min(image.width - 1, line.x1 + margin);
    result.push_back({left, top, right - left + 1, bottom - top + 1});
  }
  return result;
}

}  // namespace lumacap
