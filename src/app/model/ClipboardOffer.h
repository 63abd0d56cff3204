#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QFuture>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

namespace lumacap {

class CaptureInHand;
class CaptureSlot;
class Feedback;
class Pasteboard;

// What the clipboard holds of the capture in hand: its image offered and
// waiting for the desktop's answer, held, or kept off it (a desktop that
// takes clipboard offers only from the focused window with fresh input);
// and, with "Redact found secrets before copying", an image held back until
// the search for secrets ends.
class ClipboardOffer final : public QObject {
  Q_OBJECT

 public:
  // `checking`: the image is held back for the search for secrets, and the
  // clipboard holds nothing pasteable meanwhile.
  enum class State { copying, copied, notCopied, checking };
  Q_ENUM(State)

  ClipboardOffer(Pasteboard& pasteboard, CaptureSlot& slot, Feedback& feedback, QObject* parent = nullptr);

  State state() const { return state_; }

  // Puts the image of the capture in hand on the clipboard; `status` says
  // `copiedStatus` and the paste hint "copied" only once the desktop
  // confirms it holds the image.
  void offer(QString copiedStatus, QString refusedStatus);
  // The capture in hand shows another image, its name and message stay; the
  // clipboard is offered it unless it is held (`copiedStatus` is what
  // `status` says then; empty for the usual words).
  void replaceImage(QImage image, QFuture<QByteArray> png, QString copiedStatus = {});
  // The image of the capture in hand is held back for the search for
  // secrets: the clipboard is taken from the capture before at once, with
  // nothing pasteable on it, so that a paste never gives an older capture.
  void hold();
  // The search has ended: a held image is copied, and saving and exporting
  // stop waiting.
  void release();
  // Returns once `capture` is no longer held back (or gone).
  QCoro::Task<> untilReleased(QPointer<CaptureInHand> capture);
  // The hint for the image of the capture in hand: where to paste it, or
  // that the desktop kept it off the clipboard.
  void updatePasteHint();

  // The user's Copy Image and Copy Text.
  void copyImage();
  void copyText();

 signals:
  void stateChanged();
  // The clipboard no longer waits for the search for secrets (it ended, or
  // the capture it waited for left).
  void released();

 private:
  QCoro::Task<> awaitAnswer(QFuture<bool> reached, QPointer<CaptureInHand> capture, QString copiedStatus,
                            QString refusedStatus);
  void setState(State state);

  Pasteboard& pasteboard_;
  CaptureSlot& slot_;
  Feedback& feedback_;
  State state_ = State::copied;
};

}  // namespace lumacap
