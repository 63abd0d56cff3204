#pragma once

#include <QCoro/QCoroTask>
#include <QImage>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Date.h"
#include "core/SecretDetector.h"
#include "core/TextCover.h"
#include "platform/TextRecognizer.h"

namespace lumacap {

// What one reading of a capture gives: a suggested file name, the text, and
// the possible secrets in it (empty unless asked for).
struct Recognition {
  std::string name;
  std::string text;             // every recognised line, one per line
  std::vector<ReadLine> lines;  // the same lines with their words' boxes
  std::vector<SecretFinding> secrets;
};

// Suggests a file name for a capture from the text visible in it, and finds
// possible secrets in that text. The text is read on this machine and handed
// only to the filename generator, the secret detector and the caller: it is
// never stored, logged or sent anywhere.
class OCRService {
 public:
  static constexpr float minimumConfidence = 0.65f;
  static constexpr float minimumTextHeight = 0.008f;  // of the image height

  explicit OCRService(std::shared_ptr<TextRecognizer> recognizer);

  // Reads the image on a low-priority worker thread and resumes the caller on
  // its own thread (the GUI thread for the application). Never fails: without
  // usable text the name comes from the window title or the application and
  // the date.
  QCoro::Task<std::string> suggestedName(QImage image, std::optional<std::string> application,
                                         std::optional<std::string> windowTitle, Date date) const;

  // The same for a capture: anything with `image`, `application` and
  // `windowTitle`, such as the capture manager's CapturedImage.
  template <typename Capture>
  QCoro::Task<std::string> suggestedName(const Capture& capture, Date date) const {
    return suggestedName(capture.image, capture.application, capture.windowTitle, date);
  }

  // Reads the image once, on the same worker: the name as above, the text,
  // and, when `lookForSecrets`, the secrets the detector finds in it.
  QCoro::Task<Recognition> recognize(QImage image, std::optional<std::string> application,
                                     std::optional<std::string> windowTitle, Date date,
                                     bool lookForSecrets) const;

  // Whether secretCandidates() reads less than recognize(): otherwise the
  // search for secrets is best done by recognize() alone.
  bool readsSecretCandidatesApart() const;

  // Reads only what can hold a secret and finds the secrets in it: the
  // findings and the lines they were found in (no name, no text). It runs on
  // a worker of its own at the caller's priority, not behind the readings
  // for names. A recognize() of the same image right after reads the rest.
  QCoro::Task<Recognition> secretCandidates(QImage image) const;

  // Has the recognizer load its engines on the search's worker, so that the
  // first search does not wait for them.
  void warmUp() const;

  // Lets the recognizer give back its engine, after the recognitions asked
  // for so far (on the name's worker), and the process its free memory.
  void releaseResources() const;

  // The same work done on the calling thread.
  static std::string nameNow(TextRecognizer& recognizer, const QImage& image,
                             const std::optional<std::string>& application,
                             const std::optional<std::string>& windowTitle, Date date);

  static Recognition recognizeNow(TextRecognizer& recognizer, const QImage& image,
                                  const std::optional<std::string>& application,
                                  const std::optional<std::string>& windowTitle, Date date,
                                  bool lookForSecrets);

  static Recognition secretCandidatesNow(TextRecognizer& recognizer, const QImage& image);

  // The findings of a first search, then those of a later one that show
  // something the first did not (overlapping none of its boxes).
  static std::vector<SecretFinding> joined(std::vector<SecretFinding> first,
                                           const std::vector<SecretFinding>& later);

  // The recognised lines as the secret detector reads them: every line,
  // however unsure (a random key never reads as a confident word), with its
  // words, or its text spread over its box when the recognizer gave none.
  static std::vector<TextLine> textLines(const std::vector<RecognizedLine>& lines);

  // The lines worth naming from: confident enough, tall enough, not blank; in
  // the recognizer's order.
  static std::vector<std::string> usableLines(const std::vector<RecognizedLine>& lines, int imageHeight);

 private:
  std::shared_ptr<TextRecognizer> recognizer_;
};

}  // namespace lumacap
