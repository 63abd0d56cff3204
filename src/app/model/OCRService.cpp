#include "app/model/OCRService.h"

#include <malloc.h>
#include <QCoro/QCoroFuture>

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "core/FilenameGenerator.h"
#include "platform/BackgroundWork.h"

namespace lumacap {

namespace {

struct OneThreadPool : QThreadPool {
  OneThreadPool() { setMaxThreadCount(1); }
};

// One low-priority thread: recognitions take turns on the one engine anyway,
// and a user's burst of captures must not crowd out the GUI, the clipboard or
// other background work.
QThreadPool& recognitionPool() {
  static OneThreadPool pool;
  return pool;
}

// One thread at the GUI's priority for the search for secrets, which the
// user waits for (a held clipboard, the notice), short as it reads only
// the candidates: on a busy machine a niced thread would get a sliver of
// the processor. A thread once niced cannot take its priority back.
QThreadPool& secretsPool() {
  static OneThreadPool pool;
  return pool;
}

// The lines that hold text with their words, the text, and the secrets in
// them when asked.
void readInto(Recognition& recognition, const std::vector<RecognizedLine>& lines, const QImage& image,
              bool lookForSecrets) {
  std::vector<TextLine> words = OCRService::textLines(lines);
  for (size_t index = 0; index < lines.size(); ++index) {
    const std::string& text = lines[index].text;
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    if (!recognition.text.empty()) recognition.text += '\n';
    recognition.text += text;
    recognition.lines.push_back({text, words[index]});
  }
  if (lookForSecrets)
    recognition.secrets = SecretDetector::find(
        words, Rect{0, 0, static_cast<double>(image.width()), static_cast<double>(image.height())});
}

}  // namespace

OCRService::OCRService(std::shared_ptr<TextRecognizer> recognizer) : recognizer_(std::move(recognizer)) {}

QCoro::Task<std::string> OCRService::suggestedName(QImage image, std::optional<std::string> application,
                                                   std::optional<std::string> windowTitle, Date date) const {
  const Recognition recognition =
      co_await recognize(std::move(image), std::move(application), std::move(windowTitle), date, false);
  co_return recognition.name;
}

QCoro::Task<Recognition> OCRService::recognize(QImage image, std::optional<std::string> application,
                                               std::optional<std::string> windowTitle, Date date,
                                               bool lookForSecrets) const {
  // Everything the worker needs is copied before the first suspension, so the
  // service itself may be gone by the time the work runs.
  std::shared_ptr<TextRecognizer> recognizer = recognizer_;
  QFuture<Recognition> recognition = QtConcurrent::run(
      &recognitionPool(), [recognizer, image, application, windowTitle, date, lookForSecrets] {
        yieldToInteractiveWork();
        return recognizeNow(*recognizer, image, application, windowTitle, date, lookForSecrets);
      });
  co_return co_await recognition;
}

bool OCRService::readsSecretCandidatesApart() const { return recognizer_->readsSecretCandidatesApart(); }

QCoro::Task<Recognition> OCRService::secretCandidates(QImage image) const {
  std::shared_ptr<TextRecognizer> recognizer = recognizer_;
  QFuture<Recognition> recognition = QtConcurrent::run(
      &secretsPool(), [recognizer, image] { return secretCandidatesNow(*recognizer, image); });
  co_return co_await recognition;
}

void OCRService::warmUp() const {
  QFuture<void> loaded =
      QtConcurrent::run(&secretsPool(), [recognizer = recognizer_] { recognizer->warmUp(); });
  Q_UNUSED(loaded);
}

void OCRService::releaseResources() const {
  QFuture<void> released = QtConcurrent::run(&recognitionPool(), [recognizer = recognizer_] {
    recognizer->releaseResources();
    // Recognitions leave tens of megabytes free in the heaps; give them back.
    ::malloc_trim(0);
  });
  Q_UNUSED(released);
}

std::string OCRService::nameNow(TextRecognizer& recognizer, const QImage& image,
                                const std::optional<std::string>& application,
                                const std::optional<std::string>& windowTitle, Date date) {
  return recognizeNow(recognizer, image, application, windowTitle, date, false).name;
}

Recognition OCRService::recognizeNow(TextRecognizer& recognizer, const QImage& image,
                                     const std::optional<std::string>& application,
                                     const std::optional<std::string>& windowTitle, Date date,
                                     bool lookForSecrets) {
  std::vector<RecognizedLine> lines;
  try {
    lines = recognizer.recognize(image);
  } catch (...) {
    // A failed recognition only means there is no text to name from.
    lines.clear();
  }
  Recognition recognition;
  recognition.name =
      FilenameGenerator().filename(usableLines(lines, image.height()), application, windowTitle, date);
  readInto(recognition, lines, image, lookForSecrets);
  return recognition;
}

Recognition OCRService::secretCandidatesNow(TextRecognizer& recognizer, const QImage& image) {
  std::vector<RecognizedLine> lines;
  try {
    lines = recognizer.recognizeSecretCandidates(image);
  } catch (...) {
    lines.clear();  // nothing read, nothing found; the whole reading follows
  }
  Recognition recognition;
  readInto(recognition, lines, image, true);
  recognition.text.clear();
  return recognition;
}

std::vector<SecretFinding> OCRService::joined(std::vector<SecretFinding> first,
                                              const std::vector<SecretFinding>& later) {
  const auto overlaps = [](const Rect& one, const Rect& other) {
    const Rect common = one.intersected(other);
    return common.width > 0 && common.height > 0;
  };
  const size_t earlier = first.size();
  for (const SecretFinding& finding : later) {
    const bool known = std::any_of(
        first.begin(), first.begin() + static_cast<long>(earlier), [&](const SecretFinding& seen) {
          return std::any_of(finding.boxes.begin(), finding.boxes.end(), [&](const Rect& box) {
            return std::any_of(seen.boxes.begin(), seen.boxes.end(),
                               [&](const Rect& other) { return overlaps(box, other); });
          });
        });
    if (!known) first.push_back(finding);
  }
  return first;
}

std::vector<TextLine> OCRService::textLines(const std::vector<RecognizedLine>& lines) {
  const auto rect = [](const QRect& bounds) {
    return Rect{static_cast<double>(bounds.x()), static_cast<double>(bounds.y()),
                static_cast<double>(bounds.width()), static_cast<double>(bounds.height())};
  };
  std::vector<TextLine> result;
  result.reserve(lines.size());
  for (const RecognizedLine& line : lines) {
    if (line.words.empty()) {
      result.push_back(SecretDetector::spreadWords(line.text, rect(line.bounds)));
      continue;
    }
    TextLine words;
    for (const RecognizedWord& word : line.words) {
      std::vector<Rect> glyphs;
      for (const QRect& glyph : word.glyphs) glyphs.push_back(rect(glyph));
      words.push_back({word.text, rect(word.bounds), std::move(glyphs)});
    }
    result.push_back(std::move(words));
  }
  return result;
}

std::vector<std::string> OCRService::usableLines(const std::vector<RecognizedLine>& lines, int imageHeight) {
  const float shortest = minimumTextHeight * static_cast<float>(imageHeight);
  std::vector<std::string> usable;
  for (const RecognizedLine& line : lines) {
    if (line.text.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    if (static_cast<float>(line.bounds.height()) < shortest) continue;
    if (line.confidence < minimumConfidence) continue;
    usable.push_back(line.text);
  }
  return usable;
}

}  // namespace lumacap
