#include "app/model/Feedback.h"

#include <cstdio>

#include "app/agents/AgentRouter.h"
#include "app/model/ModelServices.h"

namespace lumacap {

Feedback::Feedback(UserPrompts& prompts, QObject* parent)
    : QObject(parent), prompts_(prompts), pasteHint_(QString::fromUtf8(PasteHint::initial)) {}

void Feedback::setBusy(bool busy) {
  if (busy_ == busy) return;
  busy_ = busy;
  emit busyChanged();
}

void Feedback::setNaming(bool naming) {
  if (naming_ == naming) return;
  naming_ = naming;
  emit namingChanged();
}

void Feedback::setStatus(const QString& status) {
  status_ = status;
  emit statusChanged();
}

void Feedback::setError(std::optional<QString> error) {
  if (error_ == error) return;
  error_ = std::move(error);
  emit errorChanged();
}

void Feedback::setPasteHint(const QString& hint) {
  if (pasteHint_ == hint) return;
  pasteHint_ = hint;
  emit pasteHintChanged();
}

void Feedback::setNote(const QString& note) {
  if (note_ == note) return;
  note_ = note;
  emit noteChanged();
}

void Feedback::presentError(const QString& message) {
  // Also where a terminal or the journal keeps it: the alert goes once closed.
  std::fprintf(stderr, "Lumacap: %s\n", qPrintable(message));
  setError(message);
  prompts_.alert(message);
}

void Feedback::presentError(const std::exception& failure) {
  presentError(QString::fromUtf8(failure.what()));
}

}  // namespace lumacap
