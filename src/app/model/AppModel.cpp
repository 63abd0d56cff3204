#include "app/model/AppModel.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroSignal>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "app/agents/AgentRouter.h"
#include "app/agents/AgentSessionRegistry.h"
#include "app/capture/CaptureManager.h"
#include "app/model/MarkupModel.h"
#include "app/model/OCRService.h"
#include "app/model/SettingsManager.h"
#include "app/model/StatusText.h"
#include "core/AtomicFile.h"
#include "core/FilenameGenerator.h"
#include "platform/CaptureFileReader.h"
#include "platform/ImageCoding.h"
#include "platform/ReadyFuture.h"

namespace lumacap {
namespace {

constexpr double minimumChoosableSize = 60;
constexpr auto recognizerIdleDelay = std::chrono::seconds(5);
// How long a capture waits for the desktop's fresh window list (to know which application to return
// to) before it goes on with the list it has.
constexpr auto workspacePatience = std::chrono::milliseconds(1000);

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }
QString text(const char* utf8) { return QString::fromUtf8(utf8); }

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

AppModel::AppModel(Services services, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      history_(services_.openStore),
      destination_(services_.registry, services_.settings),
      capture_(new CaptureInHand(this)),
      pasteHint_(text(PasteHint::initial)) {
  capture_->displayID = takingDisplayID_ = services_.captureManager.mainDisplayID();
  capture_->date = services_.clock();
  if (services_.settings.startupStorageError()) error_ = services_.settings.startupStorageError();
  connect(&history_, &CaptureHistory::recordsChanged, this, &AppModel::recordsChanged);
  history_.setRetention(services_.settings.retention());
  connect(&delayed_, &DelayedCapture::due, this, [this](CaptureMode mode) { capture(mode); });
  connect(&services_.settings, &SettingsManager::retentionChanged, this,
          [this] { history_.setRetention(services_.settings.retention()); });
  connect(&history_, &CaptureHistory::retentionFailed, this,
          [this](const QString& why) { presentError(why); });
  connect(&destination_, &DestinationChoice::changed, this, &AppModel::destinationIDChanged);

  const int32_t ownPid = static_cast<int32_t>(QCoreApplication::applicationPid());
  lastExternalApplication_ = services_.workspace.frontmostApplication();
  if (lastExternalApplication_ && lastExternalApplication_->pid == ownPid) lastExternalApplication_.reset();
  services_.workspace.observeActivations(
      [self = QPointer(this), ownPid](const DesktopApplication& activated) {
        if (self && activated.pid != ownPid) self->lastExternalApplication_ = activated;
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

AppModel::~AppModel() {
  services_.workspace.observeActivations({});
  // Work still running for the capture finds it gone.
  delete std::exchange(capture_, nullptr);
}

// Published state.

void AppModel::setImage(QImage image) {
  capture_->image = std::move(image);
  emit imageChanged();
}

void AppModel::setFilename(const QString& filename) {
  if (capture_->filename == filename) return;
  capture_->filename = filename;
  emit filenameChanged();
}

void AppModel::setPrompt(const QString& prompt) {
  if (capture_->prompt == prompt) return;
  capture_->prompt = prompt;
  emit promptChanged();
}

void AppModel::setDestinationID(const QString& id) {
  capture_->destinationChosen = true;
  destination_.choose(id);
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
  if (capture_->savedID == id) return;
  capture_->savedID = std::move(id);
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

// `next` becomes the capture in hand; the one before is gone, and with it
// every result still on its way for it.
void AppModel::putInHand(CaptureInHand* next) {
  services_.windows.hideMarkup();
  next->setParent(this);
  CaptureInHand* const before = std::exchange(capture_, next);
  connect(capture_, &CaptureInHand::markedUpChanged, this, &AppModel::markedUpChanged);
  connect(capture_, &CaptureInHand::secretsChanged, this, &AppModel::secretsChanged);
  connect(capture_, &CaptureInHand::recognizedTextChanged, this, &AppModel::recognizedTextChanged);
  const bool markedUpChanges = before->markedUp() != capture_->markedUp();
  const bool secretsChange = before->secrets() != capture_->secrets();
  const bool textChanges = before->recognizedText() != capture_->recognizedText();
  const bool nameChanges = before->filename != capture_->filename;
  const bool promptChanges = before->prompt != capture_->prompt;
  const bool savedIDChanges = before->savedID != capture_->savedID;
  delete before;
  // An older capture's wait for the search is over.
  emit clipboardReleased();
  emit imageChanged();
  if (nameChanges) emit filenameChanged();
  if (promptChanges) emit promptChanged();
  if (savedIDChanges) emit savedIDChanged();
  if (markedUpChanges) emit markedUpChanged();
  if (secretsChange) emit secretsChanged();
  if (textChanges) emit recognizedTextChanged();
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
  takingReturnApplication_ = std::move(returnApplication);
  const uint32_t display = co_await services_.captureManager.pointerDisplay();
  if (!self) co_return;
  takingDisplayID_ = display;

  // The window chooser takes its picture later, once a window is chosen.
  if (mode != CaptureMode::window) {
    quickDismissTimer_.stop();
    hideForCapture();
  }
  co_await runCapture(mode);
}

QCoro::Task<> AppModel::runCapture(CaptureMode mode) {
  const QPointer<AppModel> self(this);
  CaptureManager& manager = services_.captureManager;
  const std::optional<std::string> application =
      takingReturnApplication_ ? takingReturnApplication_->localizedName : std::nullopt;
  const auto lastRegion = manager.lastRegion(takingDisplayID_);
  if (mode == CaptureMode::lastRegion && !lastRegion) mode = CaptureMode::region;  // none yet: select one
  try {
    ShareableContent content = co_await manager.content();
    if (!self) co_return;
    if (mode == CaptureMode::lastRegion) {
      CapturedImage captured =
          co_await manager.display(std::move(content), lastRegion->first, lastRegion->second, application);
      if (!self) co_return;
      accept(std::move(captured));
    } else if (mode == CaptureMode::region) {
      std::optional<CapturedImage> captured = co_await manager.region(std::move(content), application);
      if (!self) co_return;
      if (captured) {
        accept(std::move(*captured));
      } else {
        captureEnded();
      }
    } else if (mode == CaptureMode::display) {
      CapturedImage captured =
          co_await manager.display(std::move(content), takingDisplayID_, std::nullopt, application);
      if (!self) co_return;
      accept(std::move(captured));
    } else if (manager.desktopChoosesWindow()) {
      hideForCapture();
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

// Our windows leave the screen for the capture; a second capture before the
// first one's windows came back keeps the first answer, those windows are
// still away.
void AppModel::hideForCapture() {
  if (!hidden_) hidden_ = services_.windows.hideForCapture();
}

// A capture that gave no image: everything is as it was before it.
void AppModel::captureEnded() {
  HiddenForCapture hidden = std::move(hidden_);
  if (!hidden.restore({.card = true, .focus = true})) returnFocus(takingReturnApplication_);
}

QCoro::Task<> AppModel::captureWindow(ShareableWindow window) {
  if (busy_) co_return;
  services_.windows.hideWindowChooser();
  const BusyScope busy(*this);
  quickDismissTimer_.stop();
  hideForCapture();
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
  if (captured.image.isNull()) {
    captureEnded();
    presentError(text(StatusText::fileWriteError));
    return;
  }
  // A preview that was open takes the new capture, with the message being
  // written and the destination chosen; otherwise the card shows it and
  // focus goes back to the user's application.
  HiddenForCapture hidden = std::move(hidden_);
  const bool intoPreview = hidden.previewWasShown();
  auto* next = new CaptureInHand(this);
  next->date = services_.clock();
  next->application = captured.application;
  next->returnApplication = takingReturnApplication_;
  // The card goes where the capture is: a region may be dragged on another display than the pointer's.
  next->displayID = captured.displayID.value_or(takingDisplayID_);
  if (intoPreview) {
    next->prompt = capture_->prompt;
    next->destinationChosen = capture_->destinationChosen;
  }
  next->filename =
      text(FilenameGenerator().filename({}, captured.nameFallback, captured.windowTitle, next->date));
  // The PNG bytes are made on a worker while the image is already on offer.
  next->image = captured.image;
  next->png = encodePNGInBackground(captured.image);
  next->clipboardHeld =
      services_.settings.lookForSecrets() && services_.settings.redactSecretsBeforeCopying();
  putInHand(next);
  setNote({});
  setError(std::nullopt);
  reportFailedEncoding(capture_);
  if (!capture_->clipboardHeld) copyCaptureInHand(text(StatusText::copied), text(StatusText::notCopied));

  setNaming(true);
  updateImagePasteHint();
  if (capture_->clipboardHeld) setPasteHint(text(StatusText::lookingForSecrets));

  const bool focusedOurs = hidden.restore({.card = false, .focus = intoPreview});
  if (intoPreview) {
    presentPreview();
  } else {
    if (!focusedOurs) returnFocus(capture_->returnApplication);
    showQuickCapture();
  }
  // The recognizer gives its engine back once a burst of captures is over
  // (after the recognitions asked for by then).
  recognizerIdle_.start();
  suggestName(capture_, std::move(captured.nameFallback), std::move(captured.windowTitle),
              capture_->filename);
}

QCoro::Task<> AppModel::suggestName(QPointer<CaptureInHand> capture, std::optional<std::string> application,
                                    std::optional<std::string> windowTitle, QString initialName) {
  Recognition recognition =
      co_await services_.ocr.recognize(capture->image, std::move(application), std::move(windowTitle),
                                       capture->date, services_.settings.lookForSecrets());
  // A newer capture, an opened record or a discard took the place of this
  // capture: its name is not ours to touch, and neither is `naming`.
  if (!capture) co_return;
  if (capture->filename == initialName && !capture->savedID) setFilename(text(recognition.name));
  capture->setRecognition(std::move(recognition.secrets), std::move(recognition.lines));
  history_.noteRecognizedText(*capture);
  if (capture->clipboardHeld) redactBeforeCopying();
  setNaming(false);
}

// The clipboard still offers the image in Qt's own encoding, but the capture
// cannot be saved: the user hears of it now rather than at Save.
QCoro::Task<> AppModel::reportFailedEncoding(QPointer<CaptureInHand> capture) {
  const QByteArray bytes = co_await QFuture<QByteArray>(capture->png);
  if (capture && bytes.isEmpty()) setError(text(StatusText::fileWriteError));
}

// Puts the image of the capture in hand on the clipboard; `status` and the
// paste hint say "copied" only once the desktop confirms it holds the image.
void AppModel::copyCaptureInHand(QString copiedStatus, QString refusedStatus) {
  setClipboardState(ClipboardState::copying);
  awaitClipboard(Clipboard::copyImage(services_.pasteboard, capture_->image, capture_->png), capture_,
                 std::move(copiedStatus), std::move(refusedStatus));
}

QCoro::Task<> AppModel::awaitClipboard(QFuture<bool> reached, QPointer<CaptureInHand> capture,
                                       QString copiedStatus, QString refusedStatus) {
  const bool held = co_await reached;
  if (!capture) co_return;
  // A hint of its own (secrets redacted) stays while the image is on the clipboard.
  const bool refusedBefore = pasteHint_ == text(PasteHint::notCopied);
  setClipboardState(held ? ClipboardState::copied : ClipboardState::notCopied);
  setStatus(held ? copiedStatus : refusedStatus);
  if (!held || refusedBefore) updateImagePasteHint();
}

void AppModel::updateImagePasteHint() {
  setPasteHint(text(clipboardState_ == ClipboardState::notCopied
                        ? PasteHint::notCopied
                        : PasteHint::make(capture_->returnApplication)));
}

// The workspace leaves an application that has ended alone, on its worker.
void AppModel::returnFocus(const std::optional<DesktopApplication>& application) {
  if (application) services_.workspace.activate(*application);
}

// The thumbnail.

void AppModel::showQuickCapture() {
  services_.windows.showQuickCapture(capture_->displayID);
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
  if (capture_->image.isNull()) co_return;
  hideQuickCapture();
  services_.windows.showPreview();
  refreshTimer_.start();
  co_await refreshDestinations(true);
}

void AppModel::showHistory() { services_.windows.showHistory(); }

void AppModel::showSettings() { services_.windows.showSettings(); }

// Mark-up.

void AppModel::openMarkup(std::vector<Rect> redactions) {
  if (capture_->image.isNull()) return;
  // Marks drawn before the search ends could not be redacted beneath: the
  // window opens once it has.
  if (capture_->clipboardHeld) {
    capture_->markupAsked = true;
    return;
  }
  hideQuickCapture();
  services_.windows.showMarkup(redactions);
}

void AppModel::applyMarkup(QImage flattened, const MarkupModel& markup) {
  if (capture_->image.isNull() || flattened.isNull()) return;
  capture_->markUp(markup);
  replaceImageInHand(flattened, encodePNGInBackground(flattened));
  setPasteHint(text(PasteHint::afterMarkup(capture_->redacted())));
  if (!services_.windows.previewShown()) showQuickCapture();
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
  const std::vector<SecretFinding> secrets = capture_->secrets();
  if (!secrets.empty()) {
    MarkupModel redaction(capture_->image.size());
    for (const Rect& box : SecretDetector::redactionBoxes(secrets)) {
      MarkupItem item;
      item.kind = MarkupKind::redact;
      item.from = QPointF(box.x, box.y);
      item.to = QPointF(box.right(), box.bottom());
      redaction.add(item);
    }
    capture_->clipboardHeld = false;  // applying offers the redacted image
    QImage flattened = redaction.flattened(capture_->image);
    capture_->markUp(redaction);
    replaceImageInHand(flattened, encodePNGInBackground(flattened));
    setPasteHint((secrets.size() == 1
                      ? QStringLiteral("1 possible secret redacted · ")
                      : QStringLiteral("%1 possible secrets redacted · ").arg(secrets.size())) +
                 text(PasteHint::make(capture_->returnApplication)));
  } else {
    updateImagePasteHint();
  }
  releaseClipboard();
  if (std::exchange(capture_->markupAsked, false)) openMarkup();
}

// The search has ended: the held image is copied, and saving and exporting
// stop waiting.
void AppModel::releaseClipboard() {
  if (std::exchange(capture_->clipboardHeld, false))
    copyCaptureInHand(text(StatusText::copied), text(StatusText::notCopied));
  emit clipboardReleased();
}

void AppModel::revertToOriginal() {
  const bool redacted = capture_->redacted();
  auto original = capture_->takeOriginal();
  if (!original) return;
  replaceImageInHand(std::move(original->first), std::move(original->second),
                     text(redacted ? StatusText::unredactedCopied : StatusText::originalCopied));
}

// The same capture with another image: its name and message stay.
void AppModel::replaceImageInHand(QImage image, QFuture<QByteArray> png, QString copied) {
  capture_->png = std::move(png);
  reportFailedEncoding(capture_);
  setImage(std::move(image));
  setSavedID(std::nullopt);
  setNote({});
  if (capture_->clipboardHeld) return;
  copyCaptureInHand(copied.isEmpty() ? text(StatusText::copied) : std::move(copied),
                    text(StatusText::notCopied));
}

void AppModel::discard() {
  setNaming(false);
  auto* empty = new CaptureInHand(this);
  empty->displayID = capture_->displayID;
  empty->returnApplication = capture_->returnApplication;
  putInHand(empty);
  setNote({});
  services_.windows.hidePreview();
  hideQuickCapture();
}

QCoro::Task<> AppModel::openStore() {
  const QPointer<AppModel> self(this);
  const std::optional<QString> failure = co_await history_.open();
  if (self && failure) setError(*failure);
}

void AppModel::presentError(const QString& message) {
  setError(message);
  services_.prompts.alert(message);
}

void AppModel::presentError(const std::exception& failure) { presentError(text(failure.what())); }

// Saving and delivery.

// The PNG of the capture in hand once nothing keeps it back; throws when the
// capture leaves meanwhile.
QCoro::Task<QByteArray> AppModel::pngOfCaptureInHand() {
  if (!history_.store()) throw std::runtime_error(StatusText::historyUnreadable);
  if (capture_->image.isNull()) throw StoreError(StoreError::Kind::missingCapture);
  const QPointer<CaptureInHand> capture(capture_);
  // Nothing unredacted reaches the history or an exported file either.
  while (capture && capture->clipboardHeld) co_await qCoro(this, &AppModel::clipboardReleased);
  if (!capture) throw StoreError(StoreError::Kind::missingCapture);
  const QByteArray png = co_await QFuture<QByteArray>(capture->png);
  if (!capture) throw StoreError(StoreError::Kind::missingCapture);
  if (png.isEmpty()) throw std::runtime_error(StatusText::fileWriteError);
  co_return png;
}

// Saves the capture in hand, or gives its record the name typed since. The
// name field then shows the name the store used, and `note` says why when a
// capture already had the one typed.
QCoro::Task<CaptureRecord> AppModel::persist() {
  const QPointer<CaptureInHand> capture(capture_);
  const QByteArray png = co_await pngOfCaptureInHand();
  const std::string typed = capture->filename.toStdString();
  const CaptureRecord record =
      co_await history_.save(capture->savedID, png, typed, capture->application, capture->date);
  if (capture) {
    setSavedID(record.id);
    showStoredName(record, typed);
    history_.noteRecognizedText(*capture);
  }
  co_return record;
}

void AppModel::showStoredName(const CaptureRecord& record, const std::string& typed) {
  const std::string wanted = FilenameGenerator::stem(typed) + ".png";
  setFilename(text(record.filename));
  setNote(record.filename == wanted ? QString()
                                    : text(StatusText::savedAs).arg(text(record.filename), text(wanted)));
}

QCoro::Task<> AppModel::save() {
  const QPointer<AppModel> self(this);
  try {
    co_await persist();
    if (!self) co_return;
    setStatus(note_.isEmpty() ? text(StatusText::savedToHistory) : note_);
    setError(std::nullopt);
  } catch (const std::exception& failure) {
    if (self) setError(text(failure.what()));
  }
}

QCoro::Task<> AppModel::exportCapture() {
  if (capture_->image.isNull()) co_return;
  const QPointer<AppModel> self(this);
  const QString proposed = text(FilenameGenerator::stem(capture_->filename.toStdString()) + ".png");
  const std::optional<std::filesystem::path> location = services_.prompts.exportLocation(proposed);
  if (!self || !location) co_return;
  try {
    const QByteArray png = co_await pngOfCaptureInHand();
    const std::exception_ptr failed = co_await exporting(png, *location);
    if (!self) co_return;
    if (failed) std::rethrow_exception(failed);
    setStatus(text(StatusText::savedTo) + text(location->filename().string()));
    setError(std::nullopt);
  } catch (const std::exception& failure) {
    if (self) setError(text(failure.what()));
  }
}

void AppModel::copyImage() {
  if (capture_->image.isNull()) return;
  setError(std::nullopt);
  // A held image is copied once the search has ended.
  if (capture_->clipboardHeld) {
    setStatus(text(StatusText::copiedForAgent));
    return;
  }
  copyCaptureInHand(text(StatusText::copiedForAgent), text(StatusText::copyRefused));
}

void AppModel::copyText() {
  if (recognizedText().isEmpty()) return;
  services_.pasteboard.setText(recognizedText().toStdString());
  setStatus(text(redacted() ? StatusText::redactedTextCopied : StatusText::textCopied));
  setError(std::nullopt);
}

bool AppModel::renamePending() const {
  const QString stored = storedFilename();
  return !stored.isEmpty() &&
         text(FilenameGenerator::stem(capture_->filename.toStdString()) + ".png") != stored;
}

QString AppModel::storedFilename() const {
  const std::optional<CaptureRecord> record = history_.record(capture_->savedID);
  return record ? text(record->filename) : QString();
}

QCoro::Task<> AppModel::copyImageAndReturn() {
  if (renamePending()) {
    if (busy_) co_return;
    const BusyScope busy(*this);
    const QPointer<CaptureInHand> capture(capture_);
    try {
      co_await persist();
    } catch (const std::exception& failure) {
      if (capture) setError(text(failure.what()));
      co_return;
    }
    if (!capture) co_return;
  }
  copyImage();
  updateImagePasteHint();
  services_.windows.hideForPasting();
  returnFocus(capture_->returnApplication);
  showQuickCapture();
}

QCoro::Task<> AppModel::send() {
  if (busy_) co_return;
  const BusyScope busy(*this);
  setError(std::nullopt);
  const QPointer<AppModel> self(this);
  const QPointer<CaptureInHand> capture(capture_);
  const std::string message = capture_->prompt.toStdString();
  try {
    const CaptureRecord record = co_await persist();
    if (!history_.store()) throw IntegrationError(IntegrationError::Kind::sessionEnded);
    const AgentDestination destination = destination_.chosen();
    const DeliveryReceipt receipt =
        co_await services_.router.stage(history_.store()->url(record), message, destination);
    if (!self) co_return;
    co_await recordDelivery(record, destination, receipt, message);
    // With an error the preview stays, so that it can be read; a capture that
    // was dropped while it was delivered has no card to show again.
    if (capture && !error_) finishDelivery(destination, receipt);
  } catch (const std::exception& failure) {
    if (self) setError(text(failure.what()));
  }
}

QCoro::Task<> AppModel::recordDelivery(CaptureRecord record, AgentDestination destination,
                                       DeliveryReceipt receipt, std::string message) {
  const QPointer<AppModel> self(this);
  try {
    services_.settings.setLastDestination(destination.id);
  } catch (const std::exception& failure) {
    setError(text(failure.what()));
  }
  setStatus(text(receipt.status + " — " + receipt.message));
  try {
    co_await history_.markStaged(record.id, destination.title, receipt.status, message);
  } catch (const std::exception& failure) {
    if (self) setError(text(receipt.status + StatusText::historyNotUpdated + failure.what()));
  }
}

void AppModel::finishDelivery(const AgentDestination& destination, const DeliveryReceipt& receipt) {
  services_.windows.hidePreview();
  if (!destination.session) {
    services_.windows.hideForPasting();
    returnFocus(capture_->returnApplication);
    setPasteHint(text(PasteHint::afterTextCopied(capture_->returnApplication)));
  } else {
    // The integration brought the session's terminal forward when it could;
    // focus stays where it put it.
    setPasteHint(text(PasteHint::afterStaging(receipt.broughtForward)));
  }
  showQuickCapture();
}

QCoro::Task<> AppModel::refreshDestinations(bool suggest) {
  std::optional<std::string> preferred;
  if (lastExternalApplication_) preferred = lastExternalApplication_->bundleIdentifier;
  std::optional<std::string> returnBundle;
  if (capture_->returnApplication) returnBundle = capture_->returnApplication->bundleIdentifier;
  co_await destination_.refresh(suggest, capture_->destinationChosen, preferred, returnBundle);
}

// Recorded captures.

QCoro::Task<> AppModel::openRecord(CaptureRecord record) {
  if (!history_.store()) co_return;
  const QPointer<CaptureInHand> before(capture_);
  const uint32_t display = co_await services_.captureManager.pointerDisplay();
  if (!before || before != capture_) co_return;
  const LoadedCapture loaded = co_await CaptureFileReader::load(history_.store()->url(record));
  // A capture or a discard came first.
  if (!before || before != capture_) co_return;
  if (!loaded.error.isEmpty()) {
    presentError(loaded.error);
    co_return;
  }

  auto* next = new CaptureInHand(this);
  next->displayID = display;
  next->returnApplication = lastExternalApplication_;
  next->image = loaded.image;
  next->png = readyFuture(loaded.png);
  next->filename = text(record.filename);
  next->date = record.createdAt;
  next->application = record.application;
  next->savedID = record.id;
  setNaming(false);
  putInHand(next);
  setNote({});
  setError(std::nullopt);
  setStatus(text(StatusText::openedRecord));
  co_await presentPreview();
}

QCoro::Task<> AppModel::copy(CaptureRecord record) {
  const QPointer<AppModel> self(this);
  if (!history_.store()) {
    presentError(StoreError(StoreError::Kind::missingCapture));
    co_return;
  }
  const LoadedCapture loaded = co_await CaptureFileReader::load(history_.store()->url(record));
  if (!self) co_return;
  if (!loaded.error.isEmpty()) {
    presentError(loaded.error);
    co_return;
  }
  const bool held =
      co_await Clipboard::copyImage(services_.pasteboard, loaded.image, readyFuture(loaded.png));
  if (!self) co_return;
  setStatus(text(held ? StatusText::copiedForAgent : StatusText::copyRefused));
}

void AppModel::copyPaths(const std::vector<CaptureRecord>& records) {
  if (!history_.store()) return presentError(StoreError(StoreError::Kind::missingCapture));
  std::string paths;
  for (const CaptureRecord& record : records) paths += history_.store()->url(record).string() + "\n";
  services_.pasteboard.setText(paths);
  setStatus(text(StatusText::pathsCopied).arg(records.size()));
}

QCoro::Task<> AppModel::rename(CaptureRecord record, QString name) {
  if (!history_.store()) co_return;
  const QPointer<AppModel> self(this);
  const std::string typed = name.toStdString();
  try {
    const CaptureRecord renamed = co_await history_.rename(record.id, typed);
    if (!self) co_return;
    if (capture_->savedID == record.id) showStoredName(renamed, typed);
    setStatus(text(StatusText::renamedTo) + text(renamed.filename));
  } catch (const StoreError& failure) {
    if (!self) co_return;
    if (failure.kind() != StoreError::Kind::nameTaken) co_return presentError(failure);
    setStatus(text(failure.what()));
  } catch (const std::exception& failure) {
    if (self) presentError(failure);
  }
}

QCoro::Task<> AppModel::remove(std::vector<CaptureRecord> records) {
  if (!history_.store()) co_return;
  const QPointer<AppModel> self(this);
  std::vector<std::string> ids;
  for (const CaptureRecord& record : records) ids.push_back(record.id);
  try {
    co_await history_.remove(ids);
    if (self && capture_->savedID && std::count(ids.begin(), ids.end(), *capture_->savedID)) discard();
  } catch (const std::exception& failure) {
    if (self) presentError(failure);
  }
}

QCoro::Task<> AppModel::deleteAll() {
  const QPointer<AppModel> self(this);
  try {
    co_await history_.removeAll();
    if (self) discard();
  } catch (const std::exception& failure) {
    if (self) presentError(failure);
  }
}

}  // namespace lumacap
