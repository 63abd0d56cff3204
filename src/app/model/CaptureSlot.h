#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QFuture>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>
#include <string>

#include "app/model/CaptureInHand.h"

namespace lumacap {

class AppWindows;

// Holds the capture in hand, never none: an empty capture stands for no
// capture. Putting another in hand deletes the one before, and with it
// every result still on its way for it (work holds a QPointer to its
// capture). Says what changed of the capture in hand.
class CaptureSlot final : public QObject {
  Q_OBJECT

 public:
  explicit CaptureSlot(AppWindows& windows, QObject* parent = nullptr);
  ~CaptureSlot() override;

  CaptureInHand* get() const { return capture_; }
  CaptureInHand* operator->() const { return capture_; }

  // `next` becomes the capture in hand; the mark-up window of the one
  // before closes.
  void put(CaptureInHand* next);

  // The capture in hand shows another image: the record a save made before
  // holds the image it was saved with, so the next save makes a new one.
  void replaceImage(QImage image, QFuture<QByteArray> png);
  void setFilename(const QString& filename);
  void setPrompt(const QString& prompt);
  void setSavedID(std::optional<std::string> id);
  // Says `encodingFailed` when the PNG of `capture` comes out empty while
  // it is in hand: the clipboard still offers the image in Qt's own
  // encoding, but it cannot be saved, and the user hears of it now.
  QCoro::Task<> watchEncoding(QPointer<CaptureInHand> capture);

 signals:
  void imageChanged();
  void filenameChanged();
  void promptChanged();
  void savedIDChanged();
  void markedUpChanged();
  void secretsChanged();
  void recognizedTextChanged();
  // Another capture is in hand (a wait for the one before is over).
  void replaced();
  void encodingFailed();

 private:
  AppWindows& windows_;
  CaptureInHand* capture_;
};

}  // namespace lumacap
