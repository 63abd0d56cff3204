#include "core/SecretCandidates.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "core/GlyphGrid.h"

namespace lumacap {
namespace {

// A pixel this far from the line's background in gray is ink.
constexpr int inkContrast = 40;

struct LineInk {
  std::vector<bool> columns;  // per column of the line's box: holds ink
  int height = 0;             // from the highest ink to the lowest
};

LineInk inkOf(const GrayPixels& image, const PixelRect& line) {
  std::array<long, 256> histogram{};
  for (int y = line.y; y < line.y + line.height; ++y) {
    const uint8_t* row = image.bits + static_cast<long>(y) * image.stride;
    for (int x = line.x; x < line.x + line.width; ++x) ++histogram[row[x]];
  }
  const int background =
      static_cast<int>(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
  LineInk ink;
  ink.columns.assign(static_cast<size_t>(line.width), false);
  int top = line.height, bottom = -1;
  for (int y = 0; y < line.height; ++y) {
    const uint8_t* row = image.bits + static_cast<long>(line.y + y) * image.stride + line.x;
    bool any = false;
    for (int x = 0; x < line.width; ++x) {
      if (std::abs(row[x] - background) < inkContrast) continue;
      ink.columns[static_cast<size_t>(x)] = true;
      any = true;
    }
    if (any) top = std::min(top, y), bottom = std::max(bottom, y);
  }
  ink.height = std::max(0, bottom - top + 1);
  return ink;
}

double pitchOf(const LineInk& ink) { return GlyphGrid::glyphWidth(ink.columns, ink.height); }

std::vector<PixelRect> wordsOf(const LineInk& ink, const PixelRect& line) {
  // Inside a word, ink is at most a narrow glyph's side bearings apart
  // (dashes, dots: two thirds of a glyph's width or so); a space leaves a
  // glyph's width and more.
  const int space = std::max(2, static_cast<int>(pitchOf(ink) * 0.95));
  std::vector<PixelRect> words;
  int start = -1, last = -1;
  for (int x = 0; x <= line.width; ++x) {
    const bool inked = x < line.width && ink.columns[static_cast<size_t>(x)];
    if (inked && start >= 0 && x - last - 1 < space) {
      last = x;
    } else if (inked || x == line.width) {
      if (start >= 0) words.push_back({line.x + start, line.y, last - start + 1, line.height});
      start = last = x;
    } else {
      continue;
    }
  }
  return words;
}

}  // namespace

std::vector<PixelRect> SecretCandidates::words(const GrayPixels& image, const PixelRect& line) {
  if (!image.bits || line.width <= 0 || line.height <= 0) return {};
  return wordsOf(inkOf(image, line), line);
}

std::vector<PixelRect> SecretCandidates::spans(const GrayPixels& image, const PixelRect& line) {
  if (!image.bits || line.width <= 0 || line.height <= 0) return {};
  const LineInk ink = inkOf(image, line);
  const std::vector<PixelRect> words = wordsOf(ink, line);
  if (words.empty()) return {};
  const double pitch = pitchOf(ink);
  // Which words to read: the first few, and each long word with the words
  // before it that may name it.
  std::vector<bool> read(words.size(), false);
  for (size_t at = 0; at < words.size(); ++at) {
    if (at < static_cast<size_t>(leadingWords)) read[at] = true;
    if (words[at].width < pitch * (longestPlainWord + 0.5)) continue;
    for (size_t before = at >= namingWords ? at - namingWords : 0; before <= at; ++before)
      read[before] = true;
  }
  // Neighbouring words to read make one span; spans closer than a few
  // glyphs are read as one (each reading costs a little by itself).
  const int margin = static_cast<int>(pitch * 0.75) + 1;
  const int joined = static_cast<int>(pitch * 4);
  std::vector<PixelRect> spans;
  int readWidth = 0;
  for (size_t at = 0; at < words.size(); ++at) {
    if (!read[at]) continue;
    const int left = std::max(line.x, words[at].x - margin);
    const int right = std::min(line.x + line.width, words[at].x + words[at].width + margin);
    if (!spans.empty() && left - (spans.back().x + spans.back().width) <= joined) {
      spans.back().width = right - spans.back().x;
    } else {
      spans.push_back({left, line.y, right - left, line.height});
    }
  }
  for (const PixelRect& span : spans) readWidth += span.width;
  if (readWidth * 4 >= line.width * 3) return {line};
  return spans;
}

}  // namespace lumacap
