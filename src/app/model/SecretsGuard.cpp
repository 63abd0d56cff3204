#include "app/model/SecretsGuard.h"

#include "app/agents/AgentRouter.h"
#include "app/model/CaptureSlot.h"
#include "app/model/ClipboardOffer.h"
#include "app/model/Feedback.h"
#include "app/model/MarkupModel.h"
#include "app/model/SettingsManager.h"
#include "platform/ImageCoding.h"

namespace lumacap {

SecretsGuard::SecretsGuard(SettingsManager& settings, CaptureSlot& slot, ClipboardOffer& clipboard,
                           Feedback& feedback, QObject* parent)
    : QObject(parent), settings_(settings), slot_(slot), clipboard_(clipboard), feedback_(feedback) {}

bool SecretsGuard::holdsNewCapture() const {
  return settings_.lookForSecrets() && settings_.redactSecretsBeforeCopying();
}

void SecretsGuard::searchEnded() {
  CaptureInHand& capture = *slot_.get();
  if (!capture.clipboardHeld) return;
  const std::vector<SecretFinding> secrets = capture.secrets();
  if (!secrets.empty()) {
    MarkupModel redaction(capture.image.size());
    for (const Rect& box : SecretDetector::redactionBoxes(secrets)) {
      MarkupItem item;
      item.kind = MarkupKind::redact;
      item.from = QPointF(box.x, box.y);
      item.to = QPointF(box.right(), box.bottom());
      redaction.add(item);
    }
    capture.clipboardHeld = false;  // replacing the image offers the redacted one
    QImage flattened = redaction.flattened(capture.image);
    capture.markUp(redaction);
    clipboard_.replaceImage(flattened, encodePNGInBackground(flattened));
    feedback_.setPasteHint((secrets.size() == 1
                                ? QStringLiteral("1 possible secret redacted · ")
                                : QStringLiteral("%1 possible secrets redacted · ").arg(secrets.size())) +
                           QString::fromStdString(PasteHint::make(capture.returnApplication)));
  } else {
    clipboard_.updatePasteHint();
  }
  clipboard_.release();
  if (std::exchange(capture.markupAsked, false)) emit markupWanted();
}

QString SecretsGuard::notice() const {
  const size_t count = slot_->secrets().size();
  if (count == 0) return {};
  return count == 1 ? QStringLiteral("1 possible secret · Redact")
                    : QStringLiteral("%1 possible secrets · Redact").arg(count);
}

std::vector<Rect> SecretsGuard::redactionBoxes() const {
  return SecretDetector::redactionBoxes(slot_->secrets());
}

bool SecretsGuard::markupMayOpen() {
  if (!slot_->clipboardHeld) return true;
  slot_->markupAsked = true;
  return false;
}

}  // namespace lumacap
