#include "app/OCRService.h"

#include <malloc.h>
#include <QCoro/QCoroFuture>

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include "core/FilenameGenerator.h"
#include "platform/BackgroundWork.h"

namespace lumacap {

namespace {

// One low-priority thread: recognitions take turns on the one engine anyway,
// and a user's burst of captures must not crowd out the GUI, the clipboard or
// other background work.
QThreadPool& recognitionPool() {
  static QThreadPool pool;
  static const bool configured = [] {
    pool.setMaxThreadCount(1);
    return true;
  }();
  (void)configured;
  return pool;
}

}  // namespace

OCRService::OCRService(std::shared_ptr<TextRecognizer> recognizer) : recognizer_(std::move(recognizer)) {}

QCoro::Task<std::string> OCRService::suggestedName(QImage image, std::optional<std::string> application,
                                                   std::optional<std::string> windowTitle, Date date) const {
  // Everything the worker needs is copied before the first suspension, so the
  // service itself may be gone by the time the work runs.
  std::shared_ptr<TextRecognizer> recognizer = recognizer_;
  QFuture<std::string> name =
      QtConcurrent::run(&recognitionPool(), [recognizer, image, application, windowTitle, date] {
        yieldToInteractiveWork();
        return nameNow(*recognizer, image, application, windowTitle, date);
      });
  co_return co_await name;
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
  std::vector<std::string> lines;
  try {
    lines = usableLines(recognizer.recognize(image), image.height());
  } catch (...) {
    // A failed recognition only means there is no text to name from.
    lines.clear();
  }
  return FilenameGenerator().filename(lines, application, windowTitle, date);
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
