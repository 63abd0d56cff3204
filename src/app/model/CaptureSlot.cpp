#include "app/model/CaptureSlot.h"

#include <QCoroFuture>

#include "app/model/AppWindows.h"

namespace lumacap {

CaptureSlot::CaptureSlot(AppWindows& windows, QObject* parent)
    : QObject(parent), windows_(windows), capture_(new CaptureInHand(this)) {}

CaptureSlot::~CaptureSlot() {
  // Work still running for the capture finds it gone.
  delete std::exchange(capture_, nullptr);
}

void CaptureSlot::put(CaptureInHand* next) {
  windows_.hideMarkup();
  next->setParent(this);
  CaptureInHand* const before = std::exchange(capture_, next);
  connect(capture_, &CaptureInHand::markedUpChanged, this, &CaptureSlot::markedUpChanged);
  connect(capture_, &CaptureInHand::secretsChanged, this, &CaptureSlot::secretsChanged);
  connect(capture_, &CaptureInHand::recognizedTextChanged, this, &CaptureSlot::recognizedTextChanged);
  const bool markedUpChanges = before->markedUp() != capture_->markedUp();
  const bool secretsChange = before->secrets() != capture_->secrets();
  const bool textChanges = before->recognizedText() != capture_->recognizedText();
  const bool nameChanges = before->filename != capture_->filename;
  const bool promptChanges = before->prompt != capture_->prompt;
  const bool savedIDChanges = before->savedID != capture_->savedID;
  delete before;
  emit replaced();
  emit imageChanged();
  if (nameChanges) emit filenameChanged();
  if (promptChanges) emit promptChanged();
  if (savedIDChanges) emit savedIDChanged();
  if (markedUpChanges) emit markedUpChanged();
  if (secretsChange) emit secretsChanged();
  if (textChanges) emit recognizedTextChanged();
}

void CaptureSlot::replaceImage(QImage image, QFuture<QByteArray> png) {
  capture_->png = std::move(png);
  watchEncoding(capture_);
  capture_->image = std::move(image);
  emit imageChanged();
  setSavedID(std::nullopt);
}

void CaptureSlot::setFilename(const QString& filename) {
  if (capture_->filename == filename) return;
  capture_->filename = filename;
  emit filenameChanged();
}

void CaptureSlot::setPrompt(const QString& prompt) {
  if (capture_->prompt == prompt) return;
  capture_->prompt = prompt;
  emit promptChanged();
}

void CaptureSlot::setSavedID(std::optional<std::string> id) {
  if (capture_->savedID == id) return;
  capture_->savedID = std::move(id);
  emit savedIDChanged();
}

QCoro::Task<> CaptureSlot::watchEncoding(QPointer<CaptureInHand> capture) {
  const QByteArray bytes = co_await QFuture<QByteArray>(capture->png);
  if (capture && bytes.isEmpty()) emit encodingFailed();
}

}  // namespace lumacap
