#include "app/model/CaptureInHand.h"

#include "app/model/MarkupModel.h"

namespace lumacap {

void CaptureInHand::setRecognition(std::vector<SecretFinding> findings, std::vector<ReadLine> lines) {
  findings_ = std::move(findings);
  readLines_ = std::move(lines);
  textRead_ = true;
  readThroughCover();
}

void CaptureInHand::setSecretsFound(std::vector<SecretFinding> findings, std::vector<ReadLine> lines) {
  findings_ = std::move(findings);
  readLines_ = std::move(lines);
  textRead_ = false;
  readThroughCover();
}

// What the mark-up blacked out or cropped away is gone from the text and
// the secrets too.
void CaptureInHand::markUp(const MarkupModel& markup) {
  const bool first = original_.isNull();
  if (first) {
    original_ = image;
    originalPng_ = png;
  }
  const auto rect = [](const QRect& area) {
    return Rect{double(area.x()), double(area.y()), double(area.width()), double(area.height())};
  };
  for (const QRect& area : markup.redactedAreas()) cover_.redact(rect(area));
  if (const QRect kept = markup.cropArea(); kept != QRect(QPoint(0, 0), markup.imageSize()))
    cover_.crop(rect(kept));
  readThroughCover();
  if (first) emit markedUpChanged();
}

std::optional<std::pair<QImage, QFuture<QByteArray>>> CaptureInHand::takeOriginal() {
  if (original_.isNull()) return std::nullopt;
  std::pair<QImage, QFuture<QByteArray>> original{std::exchange(original_, {}),
                                                  std::exchange(originalPng_, {})};
  cover_ = {};
  readThroughCover();
  emit markedUpChanged();
  return original;
}

void CaptureInHand::readThroughCover() {
  std::vector<SecretFinding> shown = cover_.shown(findings_, readLines_);
  if (secrets_ != shown) {
    secrets_ = std::move(shown);
    emit secretsChanged();
  }
  QString recognized = textRead_ ? QString::fromStdString(cover_.text(readLines_)) : QString();
  if (recognizedText_ != recognized) {
    recognizedText_ = std::move(recognized);
    emit recognizedTextChanged();
  }
}

}  // namespace lumacap
