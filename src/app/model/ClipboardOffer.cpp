#include "app/model/ClipboardOffer.h"

#include <QCoroFuture>
#include <QCoroSignal>

#include "app/agents/AgentRouter.h"
#include "app/model/CaptureSlot.h"
#include "app/model/Feedback.h"
#include "app/model/StatusText.h"

namespace lumacap {

ClipboardOffer::ClipboardOffer(Pasteboard& pasteboard, CaptureSlot& slot, Feedback& feedback, QObject* parent)
    : QObject(parent), pasteboard_(pasteboard), slot_(slot), feedback_(feedback) {
  // An older capture's wait for the search is over.
  connect(&slot_, &CaptureSlot::replaced, this, &ClipboardOffer::released);
}

void ClipboardOffer::setState(State state) {
  if (state_ == state) return;
  state_ = state;
  emit stateChanged();
}

void ClipboardOffer::offer(QString copiedStatus, QString refusedStatus) {
  setState(State::copying);
  awaitAnswer(Clipboard::copyImage(pasteboard_, slot_->image, slot_->png), slot_.get(),
              std::move(copiedStatus), std::move(refusedStatus));
}

QCoro::Task<> ClipboardOffer::awaitAnswer(QFuture<bool> reached, QPointer<CaptureInHand> capture,
                                          QString copiedStatus, QString refusedStatus) {
  const bool held = co_await reached;
  if (!capture) co_return;
  // A hint of its own (secrets redacted) stays while the image is on the clipboard.
  const bool refusedBefore = feedback_.pasteHint() == QString::fromUtf8(PasteHint::notCopied);
  setState(held ? State::copied : State::notCopied);
  feedback_.setStatus(held ? copiedStatus : refusedStatus);
  if (!held || refusedBefore) updatePasteHint();
}

void ClipboardOffer::replaceImage(QImage image, QFuture<QByteArray> png, QString copiedStatus) {
  slot_.replaceImage(std::move(image), std::move(png));
  feedback_.setNote({});
  if (slot_->clipboardHeld) return;
  offer(copiedStatus.isEmpty() ? QString::fromUtf8(StatusText::copied) : std::move(copiedStatus),
        QString::fromUtf8(StatusText::notCopied));
}

void ClipboardOffer::hold() {
  slot_->clipboardHeld = true;
  pasteboard_.setText({});
  setState(State::checking);
}

void ClipboardOffer::release() {
  if (std::exchange(slot_->clipboardHeld, false))
    offer(QString::fromUtf8(StatusText::copied), QString::fromUtf8(StatusText::notCopied));
  emit released();
}

QCoro::Task<> ClipboardOffer::untilReleased(QPointer<CaptureInHand> capture) {
  while (capture && capture->clipboardHeld) co_await qCoro(this, &ClipboardOffer::released);
}

void ClipboardOffer::updatePasteHint() {
  feedback_.setPasteHint(QString::fromStdString(
      state_ == State::notCopied ? PasteHint::notCopied : PasteHint::make(slot_->returnApplication)));
}

void ClipboardOffer::copyImage() {
  if (slot_->image.isNull()) return;
  feedback_.setError(std::nullopt);
  // A held image is copied once the search has ended.
  if (slot_->clipboardHeld) {
    feedback_.setStatus(QString::fromUtf8(StatusText::copiedForAgent));
    return;
  }
  offer(QString::fromUtf8(StatusText::copiedForAgent), QString::fromUtf8(StatusText::copyRefused));
}

void ClipboardOffer::copyText() {
  const QString& text = slot_->recognizedText();
  if (text.isEmpty()) return;
  pasteboard_.setText(text.toStdString());
  feedback_.setStatus(
      QString::fromUtf8(slot_->redacted() ? StatusText::redactedTextCopied : StatusText::textCopied));
  feedback_.setError(std::nullopt);
}

}  // namespace lumacap
