#pragma once

#include <QCoroTask>
#include <QFuture>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/agents/AgentIntegration.h"
#include "app/model/AppWindows.h"
#include "app/model/CaptureHistory.h"
#include "app/model/CaptureInHand.h"
#include "app/model/DelayedCapture.h"
#include "app/model/DestinationChoice.h"
#include "core/CaptureError.h"
#include "core/Date.h"
#include "core/DesktopBackend.h"
#include "core/ScreenshotStore.h"
#include "core/SecretDetector.h"
#include "core/Shortcut.h"
#include "platform/ScreenSource.h"
#include "platform/Workspace.h"

namespace lumacap {

class AgentRouter;
class AgentSessionRegistry;
class CaptureManager;
class MarkupModel;
class OCRService;
class Pasteboard;
class SettingsManager;
struct CapturedImage;

// The questions and notices the model puts to the user in a modal way. The
// application answers them with dialogs; tests answer them in code.
class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  // An alert titled "Lumacap" with the message and one "OK" button.
  virtual void alert(const QString& message) = 0;
  // Where to write an exported copy; nothing when the user cancels.
  virtual std::optional<std::filesystem::path> exportLocation(const QString& proposedName) = 0;
};

// The state of the running application and the road of every capture, from
// the request to the moment the user can paste it: capturing, the thumbnail,
// the preview, saving, delivery and the recorded captures. Lives on the GUI
// thread; views observe its properties and call its operations.
//
// The capture in hand is one `CaptureInHand`, replaced by each capture and
// by a discard; work started for a capture holds a QPointer to it. The
// recorded captures are a `CaptureHistory`, the chosen destination a
// `DestinationChoice`; the model publishes what they hold.
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
  Q_PROPERTY(
      lumacap::AppModel::ClipboardState clipboardState READ clipboardState NOTIFY clipboardStateChanged)

 public:
  // Everything the model works with; it builds none of these itself.
  struct Services {
    // Opens the history store; may throw (the model then runs without one).
    std::function<std::unique_ptr<ScreenshotStore>()> openStore;
    AgentSessionRegistry& registry;
    SettingsManager& settings;
    CaptureManager& captureManager;
    OCRService& ocr;
    AgentRouter& router;
    Pasteboard& pasteboard;
    Workspace& workspace;
    UserPrompts& prompts;
    AppWindows& windows;
    std::function<Date()> clock = &Date::now;
    // How long the thumbnail stays once the pointer is not on it.
    std::chrono::milliseconds dismissalDelay = std::chrono::seconds(7);
    // How often destinations are refreshed while the preview is open.
    std::chrono::milliseconds refreshInterval = std::chrono::seconds(8);
  };

  static constexpr const char* clipboardID = DestinationChoice::clipboardID;

  // Where the image of the capture in hand stands with the clipboard: offered
  // and waiting for the desktop's answer, held, or kept off it (a desktop that
  // takes clipboard offers only from the focused window with fresh input).
  enum class ClipboardState { copying, copied, notCopied };
  Q_ENUM(ClipboardState)

  explicit AppModel(Services services, QObject* parent = nullptr);
  ~AppModel() override;

  // Published state.
  const QImage& image() const { return capture_->image; }
  const QString& filename() const { return capture_->filename; }
  void setFilename(const QString& filename);
  const QString& prompt() const { return capture_->prompt; }
  void setPrompt(const QString& prompt);
  const QString& destinationID() const { return destination_.id(); }
  void setDestinationID(const QString& id);
  bool busy() const { return busy_; }
  bool naming() const { return naming_; }
  const QString& status() const { return status_; }
  const std::optional<QString>& error() const { return error_; }
  const std::vector<CaptureRecord>& records() const { return history_.records(); }
  const std::optional<std::string>& savedID() const { return capture_->savedID; }
  const QString& pasteHint() const { return pasteHint_; }
  // What the user should know about the last save of the capture in hand:
  // the name it was stored under when that differs from the one typed.
  const QString& note() const { return note_; }
  // The capture in hand is saved, and the name typed is not the one it is
  // stored under: ending the preview applies it, or drops it when asked to.
  bool renamePending() const;
  // The name the capture in hand is stored under; empty while it is not saved.
  QString storedFilename() const;
  ClipboardState clipboardState() const { return clipboardState_; }

  // The capture in hand is a marked-up image; its original is kept in memory
  // (never in the history) until the capture leaves.
  bool markedUp() const { return capture_->markedUp(); }

  // The possible secrets recognition found in the capture in hand that its
  // image still shows (a mark-up may black them out or crop them away), in
  // the image's pixels.
  const std::vector<SecretFinding>& secrets() const { return capture_->secrets(); }
  // "2 possible secrets · Redact" while there are any; empty otherwise.
  QString secretsNotice() const;
  // The text recognised in the capture in hand as its image shows it: what
  // a mark-up redacted reads "[redacted]", what it cropped away is left out.
  // Empty until recognition ends. A saved capture's record keeps it for the
  // search, unless it shows possible secrets.
  const QString& recognizedText() const { return capture_->recognizedText(); }
  // The mark-up of the capture in hand blacked something out.
  bool redacted() const { return capture_->redacted(); }

  // The recorded captures' store; none until it is open.
  ScreenshotStore* store() const { return history_.store(); }

  // Whether the desktop shows our tray icon; without it, the windows offer
  // what the tray menu would.
  bool trayAvailable() const { return trayAvailable_; }
  void setTrayAvailable(bool available);

  // Capturing. Each returns at once when a capture or a delivery is running;
  // otherwise the returned task ends with the capture (it need not be awaited).
  // Opens the history store on a worker; the task ends once it is open or
  // its failure is the error. Until then the model runs without a store.
  QCoro::Task<> openStore();

  QCoro::Task<> capture(CaptureMode mode);
  // Captures after a countdown (its window is a view's).
  DelayedCapture& delayedCapture() { return delayed_; }
  QCoro::Task<> captureWindow(ShareableWindow window);

  // The thumbnail.
  void hideQuickCapture();
  void setQuickCaptureHovered(bool hovered);

  // The windows. Closing the preview discards the capture in hand.
  void showPreview();
  void showHistory();
  void showSettings();

  // Mark-up. Opens the mark-up window on the capture in hand, with these
  // boxes (in the image's pixels) already added as redactions.
  void openMarkup(std::vector<Rect> redactions = {});
  // The image `markup` flattened replaces the capture in hand: the clipboard
  // is offered its PNG at once, and saving, staging and export write it. The
  // record a save made before holds the image it was saved with, so the next
  // save makes a new one. Without the preview, the card comes back to say
  // what the clipboard holds.
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
  void presentError(const QString& message);
  void presentError(const std::exception& failure);

  // Saving and delivery of the capture in hand.
  QCoro::Task<> refreshDestinations(bool suggest);
  QCoro::Task<> save();
  QCoro::Task<> exportCapture();
  void copyImage();
  // Copies the image and gives the focus back to the user's application.
  // A saved capture first gets the name typed since: when that fails (the
  // name is taken), `error` says why and the preview stays.
  QCoro::Task<> copyImageAndReturn();
  // Puts the recognised text on the clipboard (as `recognizedText` has it).
  void copyText();
  QCoro::Task<> send();

  // Recorded captures. Their images are read and decoded on a worker.
  QCoro::Task<> openRecord(CaptureRecord record);
  QCoro::Task<> copy(CaptureRecord record);
  // Puts the paths of the captures' images on the clipboard as text, one a line.
  void copyPaths(const std::vector<CaptureRecord>& records);
  // By value: the records the views hand in are the model's own, which
  // these replace.
  // The store's writes run on its worker, one at a time.
  // A name another capture has is said in `status`; nothing is renamed.
  QCoro::Task<> rename(CaptureRecord record, QString name);
  // Removes these captures together, or none of them.
  QCoro::Task<> remove(std::vector<CaptureRecord> records);
  QCoro::Task<> deleteAll();

  // The windows the window chooser lists: not ours, on the normal layer,
  // wider and taller than 60 points; in the order given.
  static std::vector<ShareableWindow> choosableWindows(const std::vector<ShareableWindow>& windows,
                                                       int32_t ownPid);

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
  // The clipboard no longer waits for the search for secrets (it ended, or
  // the capture it waited for left).
  void clipboardReleased();
  void clipboardStateChanged();

 private:
  class BusyScope;

  QCoro::Task<> runCapture(CaptureMode mode);
  void accept(CapturedImage captured);
  void hideForCapture();
  void captureEnded();
  void putInHand(CaptureInHand* next);
  QCoro::Task<> suggestName(QPointer<CaptureInHand> capture, std::optional<std::string> application,
                            std::optional<std::string> windowTitle, QString initialName);
  QCoro::Task<> reportFailedEncoding(QPointer<CaptureInHand> capture);
  void copyCaptureInHand(QString copiedStatus, QString refusedStatus);
  QCoro::Task<> awaitClipboard(QFuture<bool> reached, QPointer<CaptureInHand> capture, QString copiedStatus,
                               QString refusedStatus);
  void showQuickCapture();
  QCoro::Task<> presentPreview();
  void updateImagePasteHint();
  QCoro::Task<CaptureRecord> persist();
  void showStoredName(const CaptureRecord& record, const std::string& typed);
  QCoro::Task<QByteArray> pngOfCaptureInHand();
  QCoro::Task<> recordDelivery(CaptureRecord record, AgentDestination destination, DeliveryReceipt receipt,
                               std::string message);
  void finishDelivery(const AgentDestination& destination, const DeliveryReceipt& receipt);
  void returnFocus(const std::optional<DesktopApplication>& application);

  void setImage(QImage image);
  // `copiedStatus` is what `status` says once the clipboard holds the image.
  void replaceImageInHand(QImage image, QFuture<QByteArray> png, QString copiedStatus = {});
  void setBusy(bool busy);
  void setNaming(bool naming);
  void setStatus(const QString& status);
  void setError(std::optional<QString> error);
  void setSavedID(std::optional<std::string> id);
  void setPasteHint(const QString& hint);
  void setNote(const QString& note);
  void releaseClipboard();
  void redactBeforeCopying();
  void setClipboardState(ClipboardState state);

  Services services_;
  CaptureHistory history_;
  DelayedCapture delayed_;
  DestinationChoice destination_;
  // Never null: an empty capture stands for none in hand.
  CaptureInHand* capture_;

  // The capture being taken: where the focus goes back to and where its card
  // goes, until it is in hand.
  std::optional<DesktopApplication> takingReturnApplication_;
  uint32_t takingDisplayID_ = 0;
  HiddenForCapture hidden_;

  bool busy_ = false;
  bool naming_ = false;
  QString status_;
  std::optional<QString> error_;
  QString pasteHint_;
  QString note_;
  bool trayAvailable_ = true;
  ClipboardState clipboardState_ = ClipboardState::copied;
  std::optional<DesktopApplication> lastExternalApplication_;

  QTimer refreshTimer_;
  QTimer quickDismissTimer_;
  QTimer recognizerIdle_;
};

}  // namespace lumacap
