#pragma once

#include <QImage>
#include <QRect>
#include <string>
#include <vector>

namespace lumacap {

// One word of a recognised line.
struct RecognizedWord {
  std::string text;  // UTF-8
  QRect bounds;      // in image pixels
  // Its characters' boxes, one per character of the text; empty when the
  // recognizer does not place them.
  std::vector<QRect> glyphs = {};

  bool operator==(const RecognizedWord&) const = default;
};

// One line of text found in an image, as the recognizer reads it.
struct RecognizedLine {
  std::string text;      // UTF-8, without the trailing line break
  float confidence = 0;  // 0 (a guess) to 1 (certain)
  QRect bounds;          // in image pixels
  // Its words in reading order; empty when the recognizer does not tell
  // them apart.
  std::vector<RecognizedWord> words = {};

  bool operator==(const RecognizedLine&) const = default;
};

// Reads the lines of text in an image, on the user's own machine. Lines come
// in the recognizer's reading order. Implementations are safe to call from any
// one worker thread at a time or more; a failure gives an empty list or throws.
class TextRecognizer {
 public:
  virtual ~TextRecognizer() = default;
  virtual std::vector<RecognizedLine> recognize(const QImage& image) = 0;
  // Reads only what can hold a secret (the rest of the text may be left
  // out), for finding secrets sooner than reading everything; all of it
  // unless the recognizer tells these parts from the pixels.
  virtual std::vector<RecognizedLine> recognizeSecretCandidates(const QImage& image) {
    return recognize(image);
  }
  // Whether recognizeSecretCandidates() reads less than recognize(), so that
  // reading the candidates first and the rest afterwards is worth it.
  virtual bool readsSecretCandidatesApart() const { return false; }
  // Gives back what the recognizer keeps between recognitions (an engine
  // and its trained data); the next recognition loads them again.
  virtual void releaseResources() {}
  // Loads ahead what the next recognition would load first.
  virtual void warmUp() {}
};

}  // namespace lumacap
