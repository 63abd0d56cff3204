#pragma once

#include <QCoroTask>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/model/CaptureHistory.h"
#include "app/model/CaptureSlot.h"
#include "app/model/CaptureWorkflow.h"
#include "app/model/ClipboardOffer.h"
#include "app/model/DelayedCapture.h"
#include "app/model/Delivery.h"
#include "app/model/DestinationChoice.h"
#include "app/model/Feedback.h"
#include "app/model/ModelServices.h"
#include "app/model/QuickCaptureCard.h"
#include "app/model/SecretsGuard.h"
#include "core/CaptureError.h"
#include "core/ScreenshotStore.h"
#include "core/SecretDetector.h"
#include "platform/ScreenSource.h"

namespace lumacap {

class MarkupModel;

// The state of the running application as the views see it, and the
// operations they call. Lives on the GUI thread. A facade over the parts
// that do the work, each with one job and the state that goes with it:
//
// - `CaptureSlot`: the capture in hand (a `CaptureInHand`, replaced by each
//   capture and by a discard; work started for a capture holds a QPointer).
// - `CaptureWorkflow`: taking a capture until it is in hand.
// - `ClipboardOffer`: what the clipboard holds of it.
// - `SecretsGuard`: what recognition found, and holding the image back.
// - `Delivery`: saving, exporting, copying and staging it.
// - `CaptureHistory`, `DestinationChoice`, `QuickCaptureCard`, `Feedback`
//   (status, error, hints).
class AppModel final : public QObject {
  Q_OBJECT
  Q_PROPERTY(QImage image READ image NOTIFY imageChanged)
  Q_PROPERTY(QString filename READ filename WRITE setFilename NOTIFY filenameChanged)
  Q_PROPERTY(QString prompt READ prompt WRITE setPrompt NOTIFY promptChanged)
  Q_PROPERTY(QString destinationID READ destinationID WRITE setDestinationID NOTIFY destinationIDChanged)
  Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
  Q_PROPERTY(bool naming READ naming NOTIFY namingChanged)
  Q_PROPERTY(QString status READ status NOTIFY statusChanged)
  Q_PROPERTY(std::optional<QString> error READ error NOTIFY errorChanged)
  Q_PROPERTY(std::vector<lumacap::CaptureRecord> records READ records NOTIFY recordsChanged)
  Q_PROPERTY(std::optional<std::string> savedID READ savedID NOTIFY savedIDChanged)
  Q_PROPERTY(QString pasteHint READ pasteHint NOTIFY pasteHintChanged)
  Q_PROPERTY(QString note READ note NOTIFY noteChanged)
  Q_PROPERTY(bool markedUp READ markedUp NOTIFY markedUpChanged)
  Q_PROPERTY(QString secretsNotice READ secretsNotice NOTIFY secretsChanged)
  Q_PROPERTY(QString recognizedText READ recognizedText NOTIFY recognizedTextChanged)
  Q_PROPERTY(bool trayAvailable READ trayAvailable WRITE setTrayAvailable NOTIFY trayAvailableChanged)
  Q_PROPERTY(lumacap::ClipboardOffer::State clipboardState READ clipboardState NOTIFY clipboardStateChanged)

 public:
  using Services = ModelServices;
  using ClipboardState = ClipboardOffer::State;
  static constexpr const char* clipboardID = DestinationChoice::clipboardID;

  explicit AppModel(Services services, QObject* parent = nullptr);

  // Published state.
  const QImage& image() const { return slot_->image; }
  const QString& filename() const { return slot_->filename; }
  void setFilename(const QString& filename) { slot_.setFilename(filename); }
  const QString& prompt() const { return slot_->prompt; }
  void setPrompt(const QString& prompt) { slot_.setPrompt(prompt); }
  const QString& destinationID() const { return destination_.id(); }
  void setDestinationID(const QString& id);
  bool busy() const { return feedback_.busy(); }
  bool naming() const { return feedback_.naming(); }
  const QString& status() const { return feedback_.status(); }
  const std::optional<QString>& error() const { return feedback_.error(); }
  const std::vector<CaptureRecord>& records() const { return history_.records(); }
  const std::optional<std::string>& savedID() const { return slot_->savedID; }
  const QString& pasteHint() const { return feedback_.pasteHint(); }
  // What the user should know about the last save of the capture in hand:
  // the name it was stored under when that differs from the one typed.
  const QString& note() const { return feedback_.note(); }
  bool renamePending() const { return delivery_.renamePending(); }
  QString storedFilename() const { return delivery_.storedFilename(); }
  ClipboardState clipboardState() const { return clipboard_.state(); }
  // The capture in hand is a marked-up image; its original is kept in memory
  // (never in the history) until the capture leaves.
  bool markedUp() const { return slot_->markedUp(); }
  // The possible secrets the image of the capture in hand still shows.
  const std::vector<SecretFinding>& secrets() const { return slot_->secrets(); }
  QString secretsNotice() const { return guard_.notice(); }
  // The text recognised in the capture in hand as its image shows it. Empty
  // until recognition ends. A saved capture's record keeps it for the
  // search, unless it shows possible secrets.
  const QString& recognizedText() const { return slot_->recognizedText(); }
  // The mark-up of the capture in hand blacked something out.
  bool redacted() const { return slot_->redacted(); }
  // The recorded captures' store; none until it is open.
  ScreenshotStore* store() const { return history_.store(); }
  // Whether the desktop shows our tray icon; without it, the windows offer
  // what the tray menu would.
  bool trayAvailable() const { return trayAvailable_; }
  void setTrayAvailable(bool available);

  // Opens the history store on a worker; the task ends once it is open or
  // its failure is the error. Until then the model runs without a store.
  QCoro::Task<> openStore();

  // Capturing: see CaptureWorkflow.
  QCoro::Task<> capture(CaptureMode mode) { return workflow_.capture(mode); }
  QCoro::Task<> captureWindow(ShareableWindow window) { return workflow_.captureWindow(std::move(window)); }
  // A capture a coding agent asked for: the region overlay with `banner`
  // over it; once the user selected a region, the capture is in hand as any
  // other and saved to the history. Its record's id; nothing when the user
  // cancelled, another capture was under way, or it could not be saved.
  QCoro::Task<std::optional<std::string>> captureForAgent(QString banner);
  // Closes the region overlay that is up, as Escape would.
  void cancelSelection();
  // Captures after a countdown (its window is a view's).
  DelayedCapture& delayedCapture() { return delayed_; }

  // The thumbnail.
  void hideQuickCapture() { card_.hide(); }
  void setQuickCaptureHovered(bool hovered) { card_.setHovered(hovered); }

  // The windows. Closing the preview discards the capture in hand.
  void showPreview() { presentPreview(); }
  void showHistory();
  void showSettings();

  // Mark-up. Opens the mark-up window on the capture in hand, with these
  // boxes (in the image's pixels) already added as redactions.
  void openMarkup(std::vector<Rect> redactions = {});
  // The image `markup` flattened replaces the capture in hand: the clipboard
  // is offered its PNG at once, and saving, staging and export write it.
  // Without the preview, the card comes back to say what the clipboard holds.
  void applyMarkup(QImage flattened, const MarkupModel& markup);
  // The capture in hand is the image it was before its first mark-up, and
  // the clipboard holds it; `status` says so.
  void revertToOriginal();
  // Opens the mark-up window with a redaction over each possible secret,
  // with a small margin, for the user to check and apply.
  void redactSecrets();

  // Drops the capture in hand (the clipboard and a saved copy stay).
  void discard();
  // Shows an alert and leaves its text in `error`.
  void presentError(const QString& message) { feedback_.presentError(message); }
  void presentError(const std::exception& failure) { feedback_.presentError(failure); }

  // Saving and delivery of the capture in hand: see Delivery and ClipboardOffer.
  QCoro::Task<> refreshDestinations(bool suggest);
  QCoro::Task<> save() { return delivery_.save(); }
  QCoro::Task<> exportCapture() { return delivery_.exportCapture(); }
  void copyImage() { clipboard_.copyImage(); }
  QCoro::Task<> copyImageAndReturn() { return delivery_.copyImageAndReturn(); }
  // Puts the recognised text on the clipboard (as `recognizedText` has it).
  void copyText() { clipboard_.copyText(); }
  QCoro::Task<> send() { return delivery_.send(); }

  // Recorded captures. Their images are read and decoded on a worker; the
  // store's writes run on its worker, one at a time. By value: the records
  // the views hand in are the model's own, which these replace.
  QCoro::Task<> openRecord(CaptureRecord record);
  QCoro::Task<> copy(CaptureRecord record);
  // Puts the paths of the captures' images on the clipboard as text, one a line.
  void copyPaths(const std::vector<CaptureRecord>& records);
  // A name another capture has is said in `status`; nothing is renamed.
  QCoro::Task<> rename(CaptureRecord record, QString name);
  // Removes these captures together, or none of them.
  QCoro::Task<> remove(std::vector<CaptureRecord> records);
  QCoro::Task<> deleteAll();
  // New captures are saved to `folder`; with `move`, every saved capture
  // elsewhere moves there first, all or none (throws why, nothing moved).
  QCoro::Task<> chooseCaptureFolder(std::filesystem::path folder, bool move) {
    return history_.chooseFolder(std::move(folder), move);
  }
  // How many saved captures have their image elsewhere than in `folder`.
  size_t capturesOutside(const std::filesystem::path& folder) const { return history_.countOutside(folder); }

 signals:
  void imageChanged();
  void filenameChanged();
  void promptChanged();
  void destinationIDChanged();
  void busyChanged();
  void namingChanged();
  void statusChanged();
  void errorChanged();
  void recordsChanged();
  void savedIDChanged();
  void pasteHintChanged();
  void noteChanged();
  void trayAvailableChanged();
  void markedUpChanged();
  void secretsChanged();
  void recognizedTextChanged();
  void clipboardStateChanged();

 private:
  QCoro::Task<> presentPreview();

  // The parts refer to each other; they are made in this order and go in
  // the reverse one.
  Services services_;
  Feedback feedback_;
  CaptureHistory history_;
  DelayedCapture delayed_;
  DestinationChoice destination_;
  CaptureSlot slot_;
  ClipboardOffer clipboard_;
  SecretsGuard guard_;
  QuickCaptureCard card_;
  CaptureWorkflow workflow_;
  Delivery delivery_;

  bool trayAvailable_ = true;
  QTimer refreshTimer_;
};

}  // namespace lumacap
