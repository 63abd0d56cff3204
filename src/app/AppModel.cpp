#include "app/AppModel.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroSignal>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <variant>

#include "app/AgentRouter.h"
#include "app/AgentSessionRegistry.h"
#include "app/CaptureManager.h"
#include "app/OCRService.h"
#include "app/SettingsManager.h"
#include "app/StoreWorker.h"
#include "app/markup/MarkupModel.h"
#include "core/AtomicFile.h"
#include "core/FilenameGenerator.h"
#include "platform/CaptureFileReader.h"
#include "platform/ImageCoding.h"
#include "platform/ReadyFuture.h"

namespace lumacap {
namespace {

// What the user is told when the capture's PNG bytes cannot be produced.
constexpr auto fileWriteError = "The file couldn’t be saved.";
constexpr auto historyUnreadable =
    "Capture history could not be read, so this capture was not saved. The image is still on the clipboard.";

// A capture the desktop kept off the clipboard: the preview, which has the
// focus, can put it there.
constexpr auto notCopiedStatus = "Image not copied · use Copy Image in the preview";
constexpr auto copyRefusedStatus = "Image not copied · the desktop kept it off the clipboard";
constexpr auto copiedStatus = "Image copied to clipboard";
// What the clipboard holds after "Revert to original".
constexpr auto originalCopiedStatus = "Original copied · without your mark-up";
constexpr auto unredactedCopiedStatus = "Original copied · what you redacted shows again";
constexpr auto textCopiedStatus = "Text copied";
constexpr auto redactedTextCopiedStatus = "Text copied · redacted parts read [redacted]";

constexpr double minimumChoosableSize = 60;
constexpr auto recognizerIdleDelay = std::chrono::seconds(5);
// How long a capture waits for the desktop's fresh window list (to know which application to return
// to) before it goes on with the list it has.
constexpr auto workspacePatience = std::chrono::milliseconds(1000);

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

std::string_view bytesOf(const QByteArray& bytes) {
  return std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// Runs `work` on `pool`; the future holds what it threw, if anything.
QFuture<std::exception_ptr> failureOf(QThreadPool& pool, std::function<void()> work) {
  return QtConcurrent::run(&pool, [work = std::move(work)]() -> std::exception_ptr {
    try {
      work();
      return nullptr;
    } catch (...) {
      return std::current_exception();
    }
  });
}

QFuture<std::exception_ptr> exporting(QByteArray png, std::filesystem::path location) {
  return failureOf(*QThreadPool::globalInstance(), [png = std::move(png), location = std::move(location)] {
    writeUserFileAtomically(location, bytesOf(png));
  });
}

}  // namespace

// `busy` for as long as the operation that holds it runs, however it ends.
class AppModel::BusyScope {
 public:
  explicit BusyScope(AppModel& model) : model_(&model) { model.setBusy(true); }
  ~BusyScope() {
    if (model_) model_->setBusy(false);
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  QPointer<AppModel> model_;
};

// The records a write left behind become the model's; its failure is thrown.
std::optional<CaptureRecord> AppModel::stored(StoreWorker::Outcome outcome) {
  records_ = std::move(outcome.records);
  emit recordsChanged();
  if (outcome.error) std::rethrow_exception(outcome.error);
  return outcome.record;
}

AppModel::AppModel(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services)), pasteHint_(QString::fromUtf8(PasteHint::initial)) {
  captureDisplayID_ = services_.captureManager.mainDisplayID();
  captureDate_ = services_.clock();
  if (services_.settings.startupStorageError()) error_ = services_.settings.startupStorageError();

  const int32_t ownPid = static_cast<int32_t>(QCoreApplication::applicationPid());
  lastExternalApplication_ = services_.workspace.frontmostApplication();
  if (lastExternalApplication_ && lastExternalApplication_->pid == ownPid) lastExternalApplication_.reset();
  services_.workspace.observeActivations(
      [self = QPointer(this), ownPid](const DesktopApplication& activated) {
        if (self && activated.pid != ownPid) self->lastExternalApplication_ = activated;
      });

  // The chosen destination is always a listed one, so that every view that
  // shows it agrees.
  connect(&services_.registry, &AgentSessionRegistry::destinationsChanged, this, [this] {
    if (!listed(destinationID_)) chooseDestination(clipboardID);
  });
  // Destinations are refreshed only while the preview is on screen.
  refreshTimer_.setInterval(services_.refreshInterval);
  connect(&refreshTimer_, &QTimer::timeout, this, [this] {
    if (services_.windows.previewShown()) {
      refreshDestinations(false);
    } else {
      refreshTimer_.stop();
    }
  });
  // The text recognizer holds tens of megabytes; between bursts of captures
  // it gives them back.
  recognizerIdle_.setSingleShot(true);
  recognizerIdle_.setInterval(recognizerIdleDelay);
  connect(&recognizerIdle_, &QTimer::timeout, this, [this] { services_.ocr.releaseResources(); });
  quickDismissTimer_.setSingleShot(true);
  connect(&quickDismissTimer_, &QTimer::timeout, this, [this] { services_.windows.hideQuickCapture(); });
}

AppModel::~AppModel() { services_.workspace.observeActivations({}); }

// Published state.

void AppModel::setImage(QImage image) {
  image_ = std::move(image);
  emit imageChanged();
}

void AppModel::setFilename(const QString& filename) {
  if (filename_ == filename) return;
  filename_ = filename;
  emit filenameChanged();
}

void AppModel::setPrompt(const QString& prompt) {
  if (prompt_ == prompt) return;
  prompt_ = prompt;
  emit promptChanged();
}

void AppModel::setDestinationID(const QString& id) {
  destinationChosen_ = true;
  chooseDestination(listed(id) ? id : QString(clipboardID));
}

void AppModel::chooseDestination(const QString& id) {
  if (destinationID_ == id) return;
  destinationID_ = id;
  emit destinationIDChanged();
}

void AppModel::setBusy(bool busy) {
  if (busy_ == busy) return;
  busy_ = busy;
  emit busyChanged();
}

void AppModel::setNaming(bool naming) {
  if (naming_ == naming) return;
  naming_ = naming;
  emit namingChanged();
}

void AppModel::setStatus(const QString& status) {
  status_ = status;
  emit statusChanged();
}

void AppModel::setError(std::optional<QString> error) {
  if (error_ == error) return;
  error_ = std::move(error);
  emit errorChanged();
}

void AppModel::setSavedID(std::optional<std::string> id) {
  if (savedID_ == id) return;
  savedID_ = std::move(id);
  emit savedIDChanged();
}

void AppModel::setPasteHint(const QString& hint) {
  if (pasteHint_ == hint) return;
  pasteHint_ = hint;
  emit pasteHintChanged();
}

void AppModel::setNote(const QString& note) {
  if (note_ == note) return;
  note_ = note;
  emit noteChanged();
}

void AppModel::setClipboardState(ClipboardState state) {
  if (clipboardState_ == state) return;
  clipboardState_ = state;
  emit clipboardStateChanged();
}

void AppModel::setTrayAvailable(bool available) {
  if (trayAvailable_ == available) return;
  trayAvailable_ = available;
  emit trayAvailableChanged();
}

// Capturing. Our windows leave the screen for the capture and come back
// where they were once it is over.

QCoro::Task<> AppModel::capture(CaptureMode mode) {
  if (busy_) co_return;
  const BusyScope busy(*this);
  const QPointer<AppModel> self(this);
  setError(std::nullopt);

  {
    QFutureWatcher<void> listed;
    listed.setFuture(services_.workspace.refreshed());
    if (!listed.isFinished()) co_await qCoro(&listed, &QFutureWatcher<void>::finished, workspacePatience);
  }
  if (!self) co_return;
  std::optional<DesktopApplication> returnApplication = services_.workspace.frontmostApplication();
  if (returnApplication &&
      returnApplication->pid == static_cast<int32_t>(QCoreApplication::applicationPid())) {
    returnApplication = lastExternalApplication_;
  }
  captureReturnApplication_ = returnApplication;
  captureDisplayID_ = co_await services_.captureManager.pointerDisplay();
  if (!self) co_return;

  // The window chooser takes its picture later, once a window is chosen.
  if (mode != CaptureMode::window) {
    quickDismissTimer_.stop();
    services_.windows.hideForCapture();
  }
  co_await runCapture(mode, std::move(returnApplication), captureDisplayID_);
}

QCoro::Task<> AppModel::runCapture(CaptureMode mode, std::optional<DesktopApplication> returnApplication,
                                   uint32_t displayID) {
  const QPointer<AppModel> self(this);
  CaptureManager& manager = services_.captureManager;
  const std::optional<std::string> application =
      returnApplication ? returnApplication->localizedName : std::nullopt;
  try {
    ShareableContent content = co_await manager.content();
    if (!self) co_return;
    if (mode == CaptureMode::region) {
      std::optional<CapturedImage> captured = co_await manager.region(std::move(content), application);
      if (!self) co_return;
      if (captured) {
        accept(std::move(*captured));
      } else {
        captureEnded();
      }
    } else if (mode == CaptureMode::display) {
      CapturedImage captured =
          co_await manager.display(std::move(content), displayID, std::nullopt, application);
      if (!self) co_return;
      accept(std::move(captured));
    } else if (manager.desktopChoosesWindow()) {
      services_.windows.hideForCapture();
      std::optional<CapturedImage> captured = co_await manager.windowChosenByDesktop();
      if (!self) co_return;
      if (captured) {
        accept(std::move(*captured));
      } else {
        captureEnded();
      }
    } else {
      services_.windows.showWindowChooser(
          choosableWindows(content.windows, static_cast<int32_t>(QCoreApplication::applicationPid())));
    }
  } catch (const std::exception& failure) {
    if (self) {
      captureEnded();
      presentError(failure);
    }
  }
}

// A capture that gave no image: everything is as it was before it.
void AppModel::captureEnded() {
  if (!services_.windows.restoreAfterCapture(true, true)) returnFocus();
}

QCoro::Task<> AppModel::captureWindow(ShareableWindow window) {
  if (busy_) co_return;
  services_.windows.hideWindowChooser();
  const BusyScope busy(*this);
  quickDismissTimer_.stop();
  services_.windows.hideForCapture();
  const QPointer<AppModel> self(this);
  try {
    CapturedImage captured = co_await services_.captureManager.window(std::move(window));
    if (self) accept(std::move(captured));
  } catch (const std::exception& failure) {
    if (self) {
      captureEnded();
      presentError(failure);
    }
  }
}

std::vector<ShareableWindow> AppModel::choosableWindows(const std::vector<ShareableWindow>& windows,
                                                        int32_t ownPid) {
  std::vector<ShareableWindow> kept;
  std::copy_if(windows.begin(), windows.end(), std::back_inserter(kept),
               [ownPid](const ShareableWindow& window) {
                 const bool ours = window.owningApplication && window.owningApplication->pid == ownPid;
                 return !ours && window.layer == 0 && window.frame.width > minimumChoosableSize &&
                        window.frame.height > minimumChoosableSize;
               });
  return kept;
}

void AppModel::accept(CapturedImage captured) {
  // A preview that was open takes the new capture, with the message being
  // written; otherwise the card shows it and focus goes back to the user's
  // application.
  const bool intoPreview = services_.windows.previewWasShownBeforeCapture();
  generation_ = QUuid::createUuid();
  const QUuid token = generation_;
  captureDate_ = services_.clock();
  setSavedID(std::nullopt);
  if (!intoPreview) setPrompt({});
  setNote({});
  setError(std::nullopt);
  origin_ = captured.application;
  // The card goes where the capture is: a region may be dragged on another display than the pointer's.
  if (captured.displayID) captureDisplayID_ = *captured.displayID;
  if (!intoPreview) destinationChosen_ = false;

  if (captured.image.isNull()) {
    captureEnded();
    presentError(QString::fromUtf8(fileWriteError));
    return;
  }
  forgetOriginal();
  setRecognition({}, {});
  // The PNG bytes are made on a worker while the image is already on offer.
  png_ = encodePNGInBackground(captured.image);
  reportFailedEncoding(png_, token);
  setImage(captured.image);
  releaseClipboard(false);  // an older capture's wait is over
  if (services_.settings.lookForSecrets() && services_.settings.redactSecretsBeforeCopying()) {
    clipboardHeld_ = true;
  } else {
    copyCaptureInHand(QString::fromUtf8(copiedStatus), QString::fromUtf8(notCopiedStatus));
  }

  const QString initialName =
      text(FilenameGenerator().filename({}, captured.nameFallback, captured.windowTitle, captureDate_));
  setFilename(initialName);
  setNaming(true);
  updateImagePasteHint();
  if (clipboardHeld_) setPasteHint(QStringLiteral("Looking for secrets before copying…"));

  const bool focusedOurs = services_.windows.restoreAfterCapture(false, intoPreview);
  if (intoPreview) {
    presentPreview();
  } else {
    if (!focusedOurs) returnFocus();
    showQuickCapture();
  }
  suggestName(image_, std::move(captured.nameFallback), std::move(captured.windowTitle), token, initialName,
              captureDate_);
}

QCoro::Task<> AppModel::suggestName(QImage image, std::optional<std::string> application,
                                    std::optional<std::string> windowTitle, QUuid token, QString initialName,
                                    Date date) {
  const QPointer<AppModel> self(this);
  Recognition recognition =
      co_await services_.ocr.recognize(std::move(image), std::move(application), std::move(windowTitle), date,
                                       services_.settings.lookForSecrets());
  if (!self) co_return;
  recognizerIdle_.start();
  // A newer capture, an opened record or a discard took the place of this
  // capture: its name is not ours to touch, and neither is `naming`.
  if (generation_ != token) co_return;
  if (filename_ == initialName && !savedID_) setFilename(text(recognition.name));
  setRecognition(std::move(recognition.secrets), std::move(recognition.lines));
  if (clipboardHeld_) redactBeforeCopying();
  setNaming(false);
}

// The clipboard still offers the image in Qt's own encoding, but the capture
// cannot be saved: the user hears of it now rather than at Save.
QCoro::Task<> AppModel::reportFailedEncoding(QFuture<QByteArray> png, QUuid token) {
  const QPointer<AppModel> self(this);
  const QByteArray bytes = co_await png;
  if (self && generation_ == token && bytes.isEmpty()) setError(QString::fromUtf8(fileWriteError));
}

// Puts the image of the capture in hand on the clipboard; `status` and the
// paste hint say "copied" only once the desktop confirms it holds the image.
void AppModel::copyCaptureInHand(QString copiedStatus, QString refusedStatus) {
  setClipboardState(ClipboardState::copying);
  awaitClipboard(Clipboard::copyImage(services_.pasteboard, image_, png_), generation_,
                 std::move(copiedStatus), std::move(refusedStatus));
}

QCoro::Task<> AppModel::awaitClipboard(QFuture<bool> reached, QUuid token, QString copiedStatus,
                                       QString refusedStatus) {
  const QPointer<AppModel> self(this);
  const bool held = co_await reached;
  if (!self || generation_ != token) co_return;
  // A hint of its own (secrets redacted) stays while the image is on the clipboard.
  const bool refusedBefore = pasteHint_ == text(PasteHint::notCopied);
  setClipboardState(held ? ClipboardState::copied : ClipboardState::notCopied);
  setStatus(held ? copiedStatus : refusedStatus);
  if (!held || refusedBefore) updateImagePasteHint();
}

void AppModel::updateImagePasteHint() {
  setPasteHint(text(clipboardState_ == ClipboardState::notCopied
                        ? PasteHint::notCopied
                        : PasteHint::make(captureReturnApplication_)));
}

// The workspace leaves an application that has ended alone, on its worker.
void AppModel::returnFocus() {
  if (captureReturnApplication_) services_.workspace.activate(*captureReturnApplication_);
}

// The thumbnail.

void AppModel::showQuickCapture() {
  services_.windows.showQuickCapture(captureDisplayID_);
  setQuickCaptureHovered(false);
}

void AppModel::hideQuickCapture() {
  quickDismissTimer_.stop();
  services_.windows.hideQuickCapture();
}

void AppModel::setQuickCaptureHovered(bool hovered) {
  quickDismissTimer_.stop();
  if (!hovered) quickDismissTimer_.start(services_.dismissalDelay);
}

// Windows.

void AppModel::showPreview() { presentPreview(); }

// Opens the preview and suggests a destination for the capture in hand.
QCoro::Task<> AppModel::presentPreview() {
  if (image_.isNull()) co_return;
  hideQuickCapture();
  services_.windows.showPreview();
  refreshTimer_.start();
  co_await refreshDestinations(true);
}

void AppModel::showHistory() { services_.windows.showHistory(); }

// Mark-up.

void AppModel::openMarkup(std::vector<Rect> redactions) {
  if (image_.isNull()) return;
  // Marks drawn before the search ends could not be redacted beneath: the
  // window opens once it has.
  if (clipboardHeld_) {
    markupAsked_ = true;
    return;
  }
  hideQuickCapture();
  services_.windows.showMarkup(redactions);
}

void AppModel::applyMarkup(QImage flattened, const MarkupModel& markup) {
  if (image_.isNull() || flattened.isNull()) return;
  markUp(std::move(flattened), markup);
  setPasteHint(text(PasteHint::afterMarkup(cover_.redacts())));
  if (!services_.windows.previewShown()) showQuickCapture();
}

// What the mark-up blacked out or cropped away is gone from the text and
// the secrets too.
void AppModel::markUp(QImage flattened, const MarkupModel& markup) {
  const bool first = original_.isNull();
  if (first) {
    original_ = image_;
    originalPng_ = png_;
  }
  const auto rect = [](const QRect& area) {
    return Rect{double(area.x()), double(area.y()), double(area.width()), double(area.height())};
  };
  for (const QRect& area : markup.redactedAreas()) cover_.redact(rect(area));
  if (const QRect kept = markup.cropArea(); kept != QRect(QPoint(0, 0), markup.imageSize()))
    cover_.crop(rect(kept));
  QFuture<QByteArray> png = encodePNGInBackground(flattened);
  reportFailedEncoding(png, generation_);
  replaceImageInHand(std::move(flattened), std::move(png));
  readThroughCover();
  if (first) emit markedUpChanged();
}

QString AppModel::secretsNotice() const {
  const size_t count = secrets().size();
  if (count == 0) return {};
  return count == 1 ? QStringLiteral("1 possible secret · Redact")
                    : QStringLiteral("%1 possible secrets · Redact").arg(count);
}

void AppModel::redactSecrets() {
  if (secrets().empty()) return;
  openMarkup(SecretDetector::redactionBoxes(secrets()));
}

// The search has ended on the held capture: what it found is blacked out
// as a mark-up the user can revert, then the clipboard gets the image.
void AppModel::redactBeforeCopying() {
  if (!secrets_.empty()) {
    MarkupModel redaction(image_.size());
    for (const Rect& box : SecretDetector::redactionBoxes(secrets_)) {
      MarkupItem item;
      item.kind = MarkupKind::redact;
      item.from = QPointF(box.x, box.y);
      item.to = QPointF(box.right(), box.bottom());
      redaction.add(item);
    }
    const size_t count = secrets_.size();
    clipboardHeld_ = false;  // applying offers the redacted image
    markUp(redaction.flattened(image_), redaction);
    setPasteHint((count == 1 ? QStringLiteral("1 possible secret redacted · ")
                             : QStringLiteral("%1 possible secrets redacted · ").arg(count)) +
                 text(PasteHint::make(captureReturnApplication_)));
  } else {
    updateImagePasteHint();
  }
  releaseClipboard(true);
  if (std::exchange(markupAsked_, false)) openMarkup();
}

// Ends the wait of the clipboard (and of saving and exporting) for the
// search; the image in hand is copied if `copy` and it still waited.
void AppModel::releaseClipboard(bool copy) {
  const bool held = std::exchange(clipboardHeld_, false);
  if (!copy) markupAsked_ = false;
  if (held && copy) copyCaptureInHand(QString::fromUtf8(copiedStatus), QString::fromUtf8(notCopiedStatus));
  emit clipboardReleased();
}

void AppModel::setRecognition(std::vector<SecretFinding> findings, std::vector<ReadLine> lines) {
  findings_ = std::move(findings);
  readLines_ = std::move(lines);
  readThroughCover();
}

void AppModel::readThroughCover() {
  std::vector<SecretFinding> secrets = cover_.shown(findings_, readLines_);
  if (secrets_ != secrets) {
    secrets_ = std::move(secrets);
    emit secretsChanged();
  }
  QString recognized = text(cover_.text(readLines_));
  if (recognizedText_ != recognized) {
    recognizedText_ = std::move(recognized);
    emit recognizedTextChanged();
  }
}

void AppModel::revertToOriginal() {
  if (original_.isNull()) return;
  const bool redacted = cover_.redacts();
  QImage original = std::exchange(original_, {});
  cover_ = {};
  replaceImageInHand(std::move(original), std::exchange(originalPng_, {}),
                     QString::fromUtf8(redacted ? unredactedCopiedStatus : originalCopiedStatus));
  readThroughCover();
  emit markedUpChanged();
}

// The same capture with another image: its name, message and generation stay.
void AppModel::replaceImageInHand(QImage image, QFuture<QByteArray> png, QString copied) {
  png_ = std::move(png);
  setImage(std::move(image));
  setSavedID(std::nullopt);
  setNote({});
  if (clipboardHeld_) return;
  copyCaptureInHand(copied.isEmpty() ? QString::fromUtf8(copiedStatus) : std::move(copied),
                    QString::fromUtf8(notCopiedStatus));
}

void AppModel::forgetOriginal() {
  services_.windows.hideMarkup();
  cover_ = {};
  if (original_.isNull()) return;
  original_ = {};
  originalPng_ = {};
  emit markedUpChanged();
}

void AppModel::showSettings() { services_.windows.showSettings(); }

void AppModel::discard() {
  generation_ = QUuid::createUuid();
  setNaming(false);
  setRecognition({}, {});
  releaseClipboard(false);
  png_ = {};
  setImage({});
  setSavedID(std::nullopt);
  setPrompt({});
  setNote({});
  services_.windows.hidePreview();
  forgetOriginal();
  hideQuickCapture();
}

QCoro::Task<> AppModel::openStore() {
  const QPointer<AppModel> self(this);
  // A long history takes a while to decode: never on the GUI thread.
  using Opened = std::variant<std::shared_ptr<ScreenshotStore>, QString>;
  const Opened opened = co_await QtConcurrent::run([open = services_.openStore]() -> Opened {
    try {
      return std::shared_ptr<ScreenshotStore>(open());
    } catch (const std::exception& failure) {
      return text(failure.what());
    }
  });
  if (!self) co_return;
  if (const auto* failure = std::get_if<QString>(&opened)) co_return setError(*failure);
  store_ = std::get<std::shared_ptr<ScreenshotStore>>(opened);
  records_ = store_->records();
  emit recordsChanged();
}

void AppModel::presentError(const QString& message) {
  setError(message);
  services_.prompts.alert(message);
}

void AppModel::presentError(const std::exception& failure) { presentError(text(failure.what())); }

// Saving and delivery.

QCoro::Task<QByteArray> AppModel::pngOfCaptureInHand() {
  if (!store_) throw std::runtime_error(historyUnreadable);
  if (image_.isNull()) throw StoreError(StoreError::Kind::missingCapture);
  const QPointer<AppModel> self(this);
  const QUuid token = generation_;
  // Nothing unredacted reaches the history or an exported file either.
  while (self && clipboardHeld_ && generation_ == token) co_await qCoro(this, &AppModel::clipboardReleased);
  if (!self || generation_ != token) throw StoreError(StoreError::Kind::missingCapture);
  QFuture<QByteArray> encoding = png_;
  const QByteArray png = co_await encoding;
  // The capture this was asked for was dropped or replaced meanwhile.
  if (!self || generation_ != token) throw StoreError(StoreError::Kind::missingCapture);
  if (png.isEmpty()) throw std::runtime_error(fileWriteError);
  co_return png;
}

// Saves the capture in hand, or gives its record the name typed since. The
// name field then shows the name the store used, and `note` says why when a
// capture already had the one typed.
QCoro::Task<CaptureRecord> AppModel::persist() {
  const QPointer<AppModel> self(this);
  const QUuid token = generation_;
  const QByteArray png = co_await pngOfCaptureInHand();
  const std::string typed = filename_.toStdString();
  StoreWorker::Outcome outcome =
      co_await storeWorker_.run(*store_, StoreWorker::saving(savedID_, png, typed, origin_, captureDate_));
  if (!self) throw StoreError(StoreError::Kind::missingCapture);
  const CaptureRecord record = *stored(std::move(outcome));
  if (generation_ == token) {
    setSavedID(record.id);
    showStoredName(record, typed);
  }
  co_return record;
}

void AppModel::showStoredName(const CaptureRecord& record, const std::string& typed) {
  const std::string wanted = FilenameGenerator::stem(typed) + ".png";
  setFilename(text(record.filename));
  setNote(record.filename == wanted
              ? QString()
              : QStringLiteral("Saved as %1: %2 exists").arg(text(record.filename), text(wanted)));
}

QCoro::Task<> AppModel::save() {
  const QPointer<AppModel> self(this);
  try {
    co_await persist();
    if (!self) co_return;
    setStatus(note_.isEmpty() ? QStringLiteral("Saved to local history") : note_);
    setError(std::nullopt);
  } catch (const std::exception& failure) {
    if (self) setError(text(failure.what()));
  }
}

QCoro::Task<> AppModel::exportCapture() {
  if (image_.isNull()) co_return;
  const QPointer<AppModel> self(this);
  const QString proposed = text(FilenameGenerator::stem(filename_.toStdString()) + ".png");
  const std::optional<std::filesystem::path> location = services_.prompts.exportLocation(proposed);
  if (!self || !location) co_return;
  try {
    const QByteArray png = co_await pngOfCaptureInHand();
    const std::exception_ptr failed = co_await exporting(png, *location);
    if (!self) co_return;
    if (failed) std::rethrow_exception(failed);
    setStatus(QStringLiteral("Saved to ") + text(location->filename().string()));
    setError(std::nullopt);
  } catch (const std::exception& failure) {
    if (self) setError(text(failure.what()));
  }
}

void AppModel::copyImage() {
  if (image_.isNull()) return;
  setError(std::nullopt);
  // A held image is copied once the search has ended.
  if (clipboardHeld_) {
    setStatus(QStringLiteral("Image copied · paste it in your agent"));
    return;
  }
  copyCaptureInHand(QStringLiteral("Image copied · paste it in your agent"),
                    QString::fromUtf8(copyRefusedStatus));
}

void AppModel::copyText() {
  if (recognizedText_.isEmpty()) return;
  services_.pasteboard.setText(recognizedText_.toStdString());
  setStatus(QString::fromUtf8(cover_.redacts() ? redactedTextCopiedStatus : textCopiedStatus));
  setError(std::nullopt);
}

bool AppModel::renamePending() const {
  const QString stored = storedFilename();
  return !stored.isEmpty() && text(FilenameGenerator::stem(filename_.toStdString()) + ".png") != stored;
}

QString AppModel::storedFilename() const {
  if (!savedID_) return {};
  const auto record = std::find_if(records_.begin(), records_.end(),
                                   [this](const CaptureRecord& record) { return record.id == savedID_; });
  return record == records_.end() ? QString() : text(record->filename);
}

QCoro::Task<> AppModel::copyImageAndReturn() {
  if (renamePending()) {
    if (busy_) co_return;
    const BusyScope busy(*this);
    const QPointer<AppModel> self(this);
    const QUuid token = generation_;
    try {
      co_await persist();
    } catch (const std::exception& failure) {
      if (self) setError(text(failure.what()));
      co_return;
    }
    if (!self || generation_ != token) co_return;
  }
  copyImage();
  updateImagePasteHint();
  services_.windows.hideForPasting();
  returnFocus();
  showQuickCapture();
}

QCoro::Task<> AppModel::send() {
  if (busy_) co_return;
  const BusyScope busy(*this);
  setError(std::nullopt);
  const QPointer<AppModel> self(this);
  const QUuid token = generation_;
  try {
    const CaptureRecord record = co_await persist();
    const AgentDestination destination = chosenDestination();
    const DeliveryReceipt receipt =
        co_await services_.router.stage(store_->url(record), prompt_.toStdString(), destination);
    if (!self) co_return;
    co_await recordDelivery(record, destination, receipt);
    // With an error the preview stays, so that it can be read; a capture that
    // was dropped while it was delivered has no card to show again.
    if (self && !error_ && generation_ == token) finishDelivery(destination, receipt);
  } catch (const std::exception& failure) {
    if (self) setError(text(failure.what()));
  }
}

// The listed destination the user chose; none when its session has ended.
AgentDestination AppModel::chosenDestination() const {
  const auto& destinations = services_.registry.destinations();
  const auto chosen = std::find_if(
      destinations.begin(), destinations.end(),
      [this](const AgentDestination& destination) { return text(destination.id) == destinationID_; });
  if (chosen == destinations.end() || !store_) throw IntegrationError(IntegrationError::Kind::sessionEnded);
  return *chosen;
}

QCoro::Task<> AppModel::recordDelivery(CaptureRecord record, AgentDestination destination,
                                       DeliveryReceipt receipt) {
  const QPointer<AppModel> self(this);
  try {
    services_.settings.setLastDestination(destination.id);
  } catch (const std::exception& failure) {
    setError(text(failure.what()));
  }
  setStatus(text(receipt.status + " — " + receipt.message));
  try {
    StoreWorker::Outcome marked = co_await storeWorker_.run(
        *store_, StoreWorker::markingStaged(record.id, destination.title, receipt.status));
    if (self) stored(std::move(marked));
  } catch (const std::exception& failure) {
    if (self) setError(text(receipt.status + ", but history could not be updated: " + failure.what()));
  }
}

void AppModel::finishDelivery(const AgentDestination& destination, const DeliveryReceipt& receipt) {
  services_.windows.hidePreview();
  if (!destination.session) {
    services_.windows.hideForPasting();
    returnFocus();
    setPasteHint(text(PasteHint::afterTextCopied(captureReturnApplication_)));
  } else {
    // The integration brought the session's terminal forward when it could;
    // focus stays where it put it.
    setPasteHint(text(PasteHint::afterStaging(receipt.broughtForward)));
  }
  showQuickCapture();
}

bool AppModel::listed(const QString& destinationID) const {
  const auto& destinations = services_.registry.destinations();
  return std::any_of(destinations.begin(), destinations.end(), [&](const AgentDestination& destination) {
    return text(destination.id) == destinationID;
  });
}

QCoro::Task<> AppModel::refreshDestinations(bool suggest) {
  const QPointer<AppModel> self(this);
  std::optional<std::string> preferred;
  if (lastExternalApplication_) preferred = lastExternalApplication_->bundleIdentifier;
  co_await services_.registry.refresh(preferred);
  if (!self) co_return;

  // A choice the user made for the capture in hand stays while it is listed.
  if (!suggest || destinationChosen_) {
    if (!listed(destinationID_)) chooseDestination(clipboardID);
    co_return;
  }
  if (const auto last = services_.settings.lastDestination(); last && listed(text(*last))) {
    chooseDestination(text(*last));
    co_return;
  }
  // A terminal that is not known matches nothing, not even another unknown one.
  const std::optional<std::string> returnBundle =
      captureReturnApplication_ ? captureReturnApplication_->bundleIdentifier : std::nullopt;
  for (const AgentDestination& destination : services_.registry.destinations()) {
    if (returnBundle && destination.session && destination.session->hostBundleID == returnBundle) {
      chooseDestination(text(destination.id));
      co_return;
    }
  }
  chooseDestination(clipboardID);
}

// Recorded captures.

QCoro::Task<> AppModel::openRecord(CaptureRecord record) {
  if (!store_) co_return;
  const QPointer<AppModel> self(this);
  captureReturnApplication_ = lastExternalApplication_;
  const QUuid token = generation_;
  captureDisplayID_ = co_await services_.captureManager.pointerDisplay();
  if (!self || generation_ != token) co_return;

  const LoadedCapture loaded = co_await CaptureFileReader::load(store_->url(record));
  if (!self || generation_ != token) co_return;  // a capture or a discard came first
  if (!loaded.error.isEmpty()) {
    presentError(loaded.error);
    co_return;
  }

  generation_ = QUuid::createUuid();
  setNaming(false);
  forgetOriginal();
  setRecognition({}, {});
  releaseClipboard(false);
  png_ = readyFuture(loaded.png);
  setImage(loaded.image);
  setFilename(text(record.filename));
  captureDate_ = record.createdAt;
  origin_ = record.application;
  setSavedID(record.id);
  setPrompt({});
  setNote({});
  setError(std::nullopt);
  setStatus(QStringLiteral("Saved capture · ready to copy or stage again"));
  destinationChosen_ = false;
  co_await presentPreview();
}

QCoro::Task<> AppModel::copy(CaptureRecord record) {
  const QPointer<AppModel> self(this);
  if (!store_) {
    presentError(StoreError(StoreError::Kind::missingCapture));
    co_return;
  }
  const LoadedCapture loaded = co_await CaptureFileReader::load(store_->url(record));
  if (!self) co_return;
  if (!loaded.error.isEmpty()) {
    presentError(loaded.error);
    co_return;
  }
  const bool held =
      co_await Clipboard::copyImage(services_.pasteboard, loaded.image, readyFuture(loaded.png));
  if (!self) co_return;
  setStatus(held ? QStringLiteral("Image copied · paste it in your agent")
                 : QString::fromUtf8(copyRefusedStatus));
}

QCoro::Task<> AppModel::rename(CaptureRecord record, QString name) {
  if (!store_) co_return;
  const QPointer<AppModel> self(this);
  const std::string typed = name.toStdString();
  try {
    StoreWorker::Outcome outcome =
        co_await storeWorker_.run(*store_, StoreWorker::renaming(record.id, typed));
    if (!self) co_return;
    const CaptureRecord renamed = *stored(std::move(outcome));
    if (savedID_ == record.id) showStoredName(renamed, typed);
    setStatus(QStringLiteral("Renamed to ") + text(renamed.filename));
  } catch (const StoreError& failure) {
    if (!self) co_return;
    if (failure.kind() != StoreError::Kind::nameTaken) co_return presentError(failure);
    setStatus(text(failure.what()));
  } catch (const std::exception& failure) {
    if (self) presentError(failure);
  }
}

QCoro::Task<> AppModel::remove(CaptureRecord record) {
  if (!store_) co_return;
  const QPointer<AppModel> self(this);
  try {
    StoreWorker::Outcome removal = co_await storeWorker_.run(*store_, StoreWorker::removing(record.id));
    if (!self) co_return;
    stored(std::move(removal));
    if (savedID_ == record.id) discard();
  } catch (const std::exception& failure) {
    if (self) presentError(failure);
  }
}

QCoro::Task<> AppModel::deleteAll() {
  const QPointer<AppModel> self(this);
  try {
    if (store_) {
      StoreWorker::Outcome deletion = co_await storeWorker_.run(*store_, &StoreWorker::deletingAll);
      if (!self) co_return;
      stored(std::move(deletion));
    }
    discard();
  } catch (const std::exception& failure) {
    if (self) presentError(failure);
  }
}

}  // namespace lumacap
