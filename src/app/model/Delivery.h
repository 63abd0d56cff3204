#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <string>

#include "app/agents/AgentIntegration.h"
#include "app/model/CaptureInHand.h"
#include "app/model/ModelServices.h"
#include "core/ScreenshotStore.h"

namespace lumacap {

class CaptureHistory;
class CaptureSlot;
class ClipboardOffer;
class DestinationChoice;
class Feedback;
class QuickCaptureCard;

// Where the capture in hand goes from the preview: the history (save, and
// a rename of what was saved), an exported file, the clipboard with the
// focus given back, or the chosen agent destination. Nothing unredacted
// leaves while the clipboard is held for the search for secrets.
class Delivery final : public QObject {
  Q_OBJECT

 public:
  Delivery(ModelServices& services, CaptureHistory& history, DestinationChoice& destination,
           CaptureSlot& slot, ClipboardOffer& clipboard, Feedback& feedback, QuickCaptureCard& card,
           QObject* parent = nullptr);

  // The capture in hand is saved, and the name typed is not the one it is
  // stored under: ending the preview applies it, or drops it when asked to.
  bool renamePending() const;
  // The name the capture in hand is stored under; empty while it is not saved.
  QString storedFilename() const;
  // The name field shows the name `record` is stored under, and `note` says
  // why when that is not the one `typed`.
  void showStoredName(const CaptureRecord& record, const std::string& typed);

  QCoro::Task<> save();
  QCoro::Task<> exportCapture();
  // Copies the image and gives the focus back to the user's application.
  // A saved capture first gets the name typed since: when that fails (the
  // name is taken), `error` says why and the preview stays.
  QCoro::Task<> copyImageAndReturn();
  QCoro::Task<> send();

 private:
  QCoro::Task<QByteArray> pngOfCaptureInHand();
  QCoro::Task<CaptureRecord> persist();
  QCoro::Task<> recordDelivery(CaptureRecord record, AgentDestination destination, DeliveryReceipt receipt,
                               std::string message);
  void finishDelivery(const AgentDestination& destination, const DeliveryReceipt& receipt);
  void returnFocus();

  ModelServices& services_;
  CaptureHistory& history_;
  DestinationChoice& destination_;
  CaptureSlot& slot_;
  ClipboardOffer& clipboard_;
  Feedback& feedback_;
  QuickCaptureCard& card_;
  QPointer<CaptureInHand> saving_;  // while save() stores it
};

}  // namespace lumacap
