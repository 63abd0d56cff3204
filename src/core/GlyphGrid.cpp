#include "core/GlyphGrid.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <numbers>

namespace lumacap {
namespace {

// A grid fits a line when the centres of its glyphs agree on their place in
// the cells this well (1: every centre in the middle of its cell; text in
// a proportional font scatters them, towards 0) ...
constexpr double gridAgreement = 0.8;
// ... and so many single glyphs tell.
constexpr int fewestGlyphs = 4;

struct InkRun {
  int start, end;  // columns, end excluded
  double centre() const { return (start + end) / 2.0; }
};

// How well the centres sit in the middle of cells `pitch` wide (0 to 1),
// and where the cells start.
std::pair<double, double> agreement(const std::vector<double>& centres, double pitch) {
  double c = 0, s = 0;
  for (double centre : centres) {
    const double angle = 2 * std::numbers::pi * centre / pitch;
    c += std::cos(angle);
    s += std::sin(angle);
  }
  const double n = static_cast<double>(centres.size());
  const double phase = std::atan2(s, c) / (2 * std::numbers::pi);
  return {std::hypot(c, s) / n, pitch * (phase - 0.5)};
}

uint64_t mixed(uint64_t hash, uint64_t value) {
  for (int i = 0; i < 8; ++i) {
    hash ^= (value >> (8 * i)) & 0xff;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

}  // namespace

double GlyphGrid::glyphWidth(const std::vector<bool>& inkedColumns, int inkHeight) {
  std::vector<int> steps;
  int last = -1;
  for (size_t x = 0; x < inkedColumns.size(); ++x) {
    if (!inkedColumns[x] || (x > 0 && inkedColumns[x - 1])) continue;
    const int step = static_cast<int>(x) - last;
    if (last >= 0 && step * 10 >= inkHeight * 3 && step * 10 <= inkHeight * 9) steps.push_back(step);
    last = static_cast<int>(x);
  }
  if (steps.size() < 3) return std::max(2.0, inkHeight / 2.0);
  std::nth_element(steps.begin(), steps.begin() + static_cast<long>(steps.size() / 2), steps.end());
  return std::max(2, steps[steps.size() / 2]);
}

std::optional<GridLine> GlyphGrid::cut(const GrayPixels& image, const PixelRect& line, const GridLine* hint) {
  if (!image.bits || line.width < 4 || line.height < 4 || line.x < 0 || line.y < 0 ||
      line.x + line.width > image.width || line.y + line.height > image.height)
    return std::nullopt;
  const int width = line.width, height = line.height;
  std::array<int, 256> histogram{};
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = image.bits + static_cast<long>(line.y + y) * image.stride + line.x;
    for (int x = 0; x < width; ++x) ++histogram[row[x]];
  }
  GridLine grid;
  grid.box = line;
  grid.background =
      static_cast<int>(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
  std::vector<uint8_t> ink(static_cast<size_t>(width) * static_cast<size_t>(height));
  std::vector<int> columnInk(static_cast<size_t>(width) + 1);
  int top = height, bottom = -1;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = image.bits + static_cast<long>(line.y + y) * image.stride + line.x;
    for (int x = 0; x < width; ++x) {
      if (std::abs(row[x] - grid.background) < inkContrast) continue;
      ink[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = 1;
      ++columnInk[static_cast<size_t>(x)];
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  }
  if (bottom < 0) return std::nullopt;
  std::vector<bool> inked(static_cast<size_t>(width));
  for (int x = 0; x < width; ++x) inked[static_cast<size_t>(x)] = columnInk[static_cast<size_t>(x)] > 0;
  const double coarse = glyphWidth(inked, bottom - top + 1);

  // The centres of the pieces of ink a single glyph wide.
  std::vector<InkRun> runs;
  for (int x = 0; x < width; ++x) {
    if (!inked[static_cast<size_t>(x)]) continue;
    const int start = x;
    while (x < width && inked[static_cast<size_t>(x)]) ++x;
    runs.push_back({start, x});
  }
  std::vector<double> centres;
  for (const InkRun& run : runs) {
    if (run.end - run.start <= coarse * 1.15 + 1) centres.push_back(run.centre());
  }
  if (static_cast<int>(centres.size()) < fewestGlyphs) return std::nullopt;

  // The pitch and origin the centres agree on best, near the coarse width.
  double best = 0;
  if (hint && hint->pitch > 0) {
    const auto [fit, origin] = agreement(centres, hint->pitch);
    if (fit >= gridAgreement) best = fit, grid.pitch = hint->pitch, grid.origin = origin;
  }
  const bool hinted = best > 0;
  for (double pitch = std::max(2.0, coarse - 1.5); !hinted && pitch <= coarse + 1.5; pitch += 0.02) {
    const auto [fit, origin] = agreement(centres, pitch);
    if (fit > best) best = fit, grid.pitch = pitch, grid.origin = origin;
  }
  if (best < gridAgreement) return std::nullopt;
  // Every single glyph's ink stays within its cell (a pixel of slack).
  int outside = 0;
  for (const InkRun& run : runs) {
    if (run.end - run.start > coarse * 1.15 + 1) continue;
    const double cell = std::floor((run.centre() - grid.origin) / grid.pitch);
    const double left = grid.origin + cell * grid.pitch;
    outside += run.start < left - 1.5 || run.end > left + grid.pitch + 1.5;
  }
  if (outside * 10 > static_cast<int>(centres.size())) return std::nullopt;

  // The cells' borders: the column with the least ink next to where the grid
  // puts a border, as glyphs are placed on whole pixels.
  const int first = static_cast<int>(std::floor((runs.front().start - grid.origin) / grid.pitch));
  const int last = static_cast<int>(std::floor((runs.back().end - 1 - grid.origin) / grid.pitch));
  std::vector<int> borders;
  for (int cell = first; cell <= last + 1; ++cell) {
    const double exact = grid.origin + cell * grid.pitch;
    const int near = static_cast<int>(std::lround(exact));
    int border = std::clamp(near, 0, width);
    for (int candidate : {near - 1, near + 1}) {
      if (candidate < 0 || candidate > width) continue;
      if (columnInk[static_cast<size_t>(candidate)] < columnInk[static_cast<size_t>(border)])
        border = candidate;
    }
    if (!borders.empty()) border = std::max(border, borders.back() + 1);
    borders.push_back(std::min(border, width));
  }
  std::vector<int> bottoms;
  for (size_t at = 0; at + 1 < borders.size(); ++at) {
    GlyphCell cell;
    cell.from = line.x + borders[at], cell.to = line.x + borders[at + 1];
    int x0 = borders[at + 1], x1 = -1, y0 = height, y1 = -1;
    for (int y = top; y <= bottom; ++y) {
      const uint8_t* row = ink.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
      for (int x = borders[at]; x < borders[at + 1]; ++x) {
        if (!row[x]) continue;
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
      }
    }
    if (x1 >= 0) {
      cell.ink = {line.x + x0, line.y + y0, x1 - x0 + 1, y1 - y0 + 1};
      bottoms.push_back(cell.ink.y + cell.ink.height - 1);
    }
    grid.cells.push_back(cell);
  }
  // Most glyphs stand on the baseline; keys hold each glyph's height over it.
  std::map<int, int> standing;
  for (int row : bottoms) ++standing[row];
  grid.baseline = std::max_element(standing.begin(), standing.end(), [](const auto& a, const auto& b) {
                    return a.second < b.second;
                  })->first;
  for (GlyphCell& cell : grid.cells) {
    if (cell.ink.width == 0) continue;
    uint64_t key = 0xcbf29ce484222325ULL;
    key = mixed(key, static_cast<uint64_t>(cell.ink.width) << 32 | static_cast<uint32_t>(cell.ink.height));
    key = mixed(key, static_cast<uint64_t>(static_cast<uint32_t>(cell.ink.y - grid.baseline)));
    uint64_t bits = 0;
    int count = 0;
    for (int y = cell.ink.y - line.y; y < cell.ink.y - line.y + cell.ink.height; ++y) {
      const uint8_t* row = ink.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
      for (int x = cell.ink.x - line.x; x < cell.ink.x - line.x + cell.ink.width; ++x) {
        bits = bits << 1 | row[x];
        if (++count % 64 == 0) key = mixed(key, bits), bits = 0;
      }
    }
    cell.key = std::max<uint64_t>(1, mixed(key, bits));
  }
  return grid;
}

std::vector<uint64_t> GlyphGrid::cellsUnder(const GridLine& line, int left, int right) {
  std::vector<uint64_t> keys;
  bool gap = false;
  for (const GlyphCell& cell : line.cells) {
    const int centre = cell.key ? cell.ink.x + cell.ink.width / 2 : (cell.from + cell.to) / 2;
    if (centre < left || centre > right) continue;
    if (!cell.key) {
      gap = !keys.empty();
      continue;
    }
    if (gap) return {};
    keys.push_back(cell.key);
  }
  return keys;
}

std::optional<SpelledLine> GlyphGrid::spell(const GridLine& line,
                                            const std::unordered_map<uint64_t, GlyphReading>& readings) {
  SpelledLine spelled;
  double confidence = 0;
  int glyphs = 0;
  bool open = false;
  const auto unite = [](PixelRect& box, const PixelRect& more) {
    if (box.width == 0) {
      box = more;
      return;
    }
    const int right = std::max(box.x + box.width, more.x + more.width);
    const int bottom = std::max(box.y + box.height, more.y + more.height);
    box.x = std::min(box.x, more.x), box.y = std::min(box.y, more.y);
    box.width = right - box.x, box.height = bottom - box.y;
  };
  for (const GlyphCell& cell : line.cells) {
    const auto reading = cell.key ? readings.find(cell.key) : readings.end();
    const bool read = reading != readings.end() && !reading->second.text.empty();
    if (cell.key && !read) return std::nullopt;
    if (!read) {
      open = false;
      continue;
    }
    if (!open) spelled.words.emplace_back();
    open = true;
    SpelledWord& word = spelled.words.back();
    word.text += reading->second.text;
    word.glyphs.push_back(cell.ink);
    unite(word.bounds, cell.ink);
    unite(spelled.bounds, cell.ink);
    confidence += reading->second.confidence;
    ++glyphs;
  }
  for (const SpelledWord& word : spelled.words) spelled.text += (spelled.text.empty() ? "" : " ") + word.text;
  spelled.confidence = glyphs ? static_cast<float>(confidence / glyphs) : 0;
  return spelled;
}

}  // namespace lumacap
