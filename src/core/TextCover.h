#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/ScreenGeometry.h"
#include "core/SecretDetector.h"

namespace lumacap {

// A line of recognised text: as the recognizer wrote it, and as words with
// their boxes (in the pixels of the image recognised).
struct ReadLine {
  std::string text;
  TextLine words;

  bool operator==(const ReadLine&) const = default;
};

// What the mark-up of a capture hides of the text recognised in it: the
// boxes it blacked out and the part a crop kept. Marks are given in the
// pixels of the image as marked up so far (after the crops before them) and
// kept in those of the image recognised. A character is hidden when the
// middle of its share of its word's box is (a word is read as monospaced, as
// the secret detector reads it).
class TextCover {
 public:
  // Hides nothing.
  TextCover() = default;

  void redact(const Rect& box);
  void crop(const Rect& kept);
  bool redacts() const { return !redacted_.empty(); }

  // The lines' text as the marked-up image shows it, one line per line: a
  // run of redacted characters reads "[redacted]", characters a crop took
  // away are left out, and so is a line with nothing left. A line the cover
  // does not reach keeps the recognizer's own text.
  std::string text(const std::vector<ReadLine>& lines) const;

  // The findings of which a character still shows, with their boxes in the
  // pixels of the marked-up image.
  std::vector<SecretFinding> shown(const std::vector<SecretFinding>& findings,
                                   const std::vector<ReadLine>& lines) const;

 private:
  enum class Seen { shown, redacted, croppedOut };
  Seen seen(Point point) const;
  Point origin() const;

  std::vector<Rect> redacted_;
  std::optional<Rect> kept_;
};

}  // namespace lumacap
