#include "core/TextCover.h"

#include <algorithm>

namespace lumacap {
namespace {

constexpr std::string_view redactedRun = "[redacted]";

bool continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xc0) == 0x80; }

// Calls `each` with every character of the word (its UTF-8 bytes) and the
// middle of its share of the word's box.
template <typename Each>
void forEachCharacter(const TextWord& word, Each each) {
  const std::string& text = word.text;
  if (text.empty()) return;
  const double advance = word.bounds.width / static_cast<double>(text.size());
  const double middle = word.bounds.y + word.bounds.height / 2;
  for (size_t begin = 0; begin < text.size();) {
    size_t end = begin + 1;
    while (end < text.size() && continuation(text[end])) ++end;
    const double centre = word.bounds.x + advance * static_cast<double>(begin + end) / 2;
    each(std::string_view(text).substr(begin, end - begin), Point{centre, middle});
    begin = end;
  }
}

}  // namespace

Point TextCover::origin() const { return kept_ ? Point{kept_->x, kept_->y} : Point{}; }

void TextCover::redact(const Rect& box) {
  const Point at = origin();
  redacted_.push_back(Rect{box.x + at.x, box.y + at.y, box.width, box.height});
}

void TextCover::crop(const Rect& kept) {
  const Point at = origin();
  const Rect area{kept.x + at.x, kept.y + at.y, kept.width, kept.height};
  kept_ = kept_ ? kept_->intersected(area) : area;
}

TextCover::Seen TextCover::seen(Point point) const {
  if (kept_ && !kept_->contains(point)) return Seen::croppedOut;
  const bool hidden = std::any_of(redacted_.begin(), redacted_.end(),
                                  [point](const Rect& box) { return box.contains(point); });
  return hidden ? Seen::redacted : Seen::shown;
}

std::string TextCover::text(const std::vector<ReadLine>& lines) const {
  std::string text;
  for (const ReadLine& line : lines) {
    std::string shown;
    bool reached = false;
    bool inRun = false;  // the last character written was redacted
    bool spaced = false;
    for (const TextWord& word : line.words) {
      bool any = false;
      forEachCharacter(word, [&](std::string_view character, Point at) {
        const Seen state = seen(at);
        if (state != Seen::shown) reached = true;
        if (state == Seen::croppedOut) return;
        any = true;
        if (state == Seen::redacted && inRun) {
          spaced = false;
          return;
        }
        if (spaced && !shown.empty()) shown += ' ';
        spaced = false;
        inRun = state == Seen::redacted;
        shown += inRun ? redactedRun : character;
      });
      if (any) spaced = true;
    }
    if (!reached) shown = line.text;
    if (shown.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    if (!text.empty()) text += '\n';
    text += shown;
  }
  return text;
}

std::vector<SecretFinding> TextCover::shown(const std::vector<SecretFinding>& findings,
                                            const std::vector<ReadLine>& lines) const {
  std::vector<bool> showing(findings.size(), false);
  for (const ReadLine& line : lines) {
    for (const TextWord& word : line.words) {
      forEachCharacter(word, [&](std::string_view, Point at) {
        if (seen(at) != Seen::shown) return;
        for (size_t index = 0; index < findings.size(); ++index) {
          const auto& boxes = findings[index].boxes;
          if (std::any_of(boxes.begin(), boxes.end(), [at](const Rect& box) { return box.contains(at); }))
            showing[index] = true;
        }
      });
    }
  }
  const Point at = origin();
  std::vector<SecretFinding> result;
  for (size_t index = 0; index < findings.size(); ++index) {
    if (!showing[index]) continue;
    SecretFinding finding = findings[index];
    for (Rect& box : finding.boxes) {
      box.x -= at.x;
      box.y -= at.y;
    }
    result.push_back(std::move(finding));
  }
  return result;
}

}  // namespace lumacap
