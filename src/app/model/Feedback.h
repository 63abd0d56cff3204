#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <exception>
#include <optional>

namespace lumacap {

class UserPrompts;

// What the model tells the user beside the capture itself: the status line,
// the error, the paste hint, the note on the last save, and whether an
// operation or the name suggestion is running. Every part of the model
// reports here; the model publishes it.
class Feedback final : public QObject {
  Q_OBJECT

 public:
  explicit Feedback(UserPrompts& prompts, QObject* parent = nullptr);

  // `busy` for as long as the operation that holds it runs, however it ends.
  class BusyScope {
   public:
    explicit BusyScope(Feedback& feedback) : feedback_(&feedback) { feedback.setBusy(true); }
    ~BusyScope() {
      if (feedback_) feedback_->setBusy(false);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    QPointer<Feedback> feedback_;
  };

  bool busy() const { return busy_; }
  bool naming() const { return naming_; }
  const QString& status() const { return status_; }
  const std::optional<QString>& error() const { return error_; }
  const QString& pasteHint() const { return pasteHint_; }
  const QString& note() const { return note_; }

  void setNaming(bool naming);
  void setStatus(const QString& status);
  // A failure reaches the user one of two ways, by where it happened:
  // - `setError`: it ends something the user started in the preview or the
  //   card, which show `error` where the user is looking (save, export, copy,
  //   send, a PNG that could not be made); no alert. Also a failure of the
  //   start (settings or history unreadable): the application presents what
  //   `error` holds once, when it has started.
  // - `presentError`: everything else (a capture, the tray's and Recent
  //   Captures' operations, the shortcut): an alert says it, and `error`
  //   keeps it.
  // The message is an error's `what()` (a kinded error's description) or a
  // `StatusText` sentence, never words of the call site's own.
  void setError(std::optional<QString> error);
  void setPasteHint(const QString& hint);
  void setNote(const QString& note);
  void presentError(const QString& message);
  void presentError(const std::exception& failure);

 signals:
  void busyChanged();
  void namingChanged();
  void statusChanged();
  void errorChanged();
  void pasteHintChanged();
  void noteChanged();

 private:
  void setBusy(bool busy);

  UserPrompts& prompts_;
  bool busy_ = false;
  bool naming_ = false;
  QString status_;
  std::optional<QString> error_;
  QString pasteHint_;
  QString note_;
};

}  // namespace lumacap
