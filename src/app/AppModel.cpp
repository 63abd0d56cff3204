#include "app/AppModel.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "app/AgentRouter.h"
#include "app/AgentSessionRegistry.h"
#include "app/CaptureManager.h"
#include "app/OCRService.h"
#include "app/SettingsManager.h"
#include "app/views/HistoryView.h"
#include "app/views/PreferencesView.h"
#include "app/views/QuickCaptureView.h"
#include "app/views/ScreenshotPreview.h"
#include "app/views/WindowChooser.h"
#include "core/AtomicFile.h"
#include "core/FilenameGenerator.h"
#include "platform/ImageCoding.h"

namespace lumacap {
namespace {

// What the user is told when the capture's PNG bytes cannot be produced.
constexpr auto fileWriteError = "The file couldn’t be saved.";

constexpr int quickCaptureMargin = 20;  // from the right and bottom of the screen's free area
constexpr double minimumChoosableSize = 60;
constexpr auto recognizerIdleDelay = std::chrono::seconds(5);

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

// A capture file read and decoded on a worker.
struct LoadedCapture {
  QByteArray png;
  QImage image;
  std::exception_ptr error;
};

QFuture<LoadedCapture> loadCapture(std::filesystem::path file) {
  return QtConcurrent::run([file = std::move(file)] {
    LoadedCapture loaded;
    try {
      loaded.png = QByteArray::fromStdString(readWholeFile(file));
      loaded.image = QImage::fromData(loaded.png, "PNG");
    } catch (...) {
      loaded.error = std::current_exception();
    }
    return loaded;
  });
}

// The message of a failure thrown elsewhere, for the user.
QString describe(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& failure) {
    return text(failure.what());
  } catch (...) {
    return QString::fromUtf8(fileWriteError);
  }
}

void centre(QWidget& window) {
  QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  window.move(area.center() - QPoint(window.width() / 2, window.height() / 2));
}

// A top-level window of ours with its title and its smallest (and first) size.
template <typename Window>
std::unique_ptr<Window> makeWindow(std::unique_ptr<Window> window, const char* title, QSize size) {
  window->setWindowTitle(QString::fromUtf8(title));
  window->setMinimumSize(size);
  window->resize(size);
  centre(*window);
  return window;
}

void orderOut(QWidget* window) {
  if (window) window->hide();
}

}  // namespace

AppModel::AppModel(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services)), pasteHint_(QString::fromUtf8(PasteHint::initial)) {
  captureDisplayID_ = services_.captureManager.mainDisplayID();
  captureDate_ = services_.clock();
  try {
    store_ = services_.openStore();
  } catch (const std::exception& failure) {
    error_ = text(failure.what());
  }
  if (!error_ && services_.settings.startupStorageError()) error_ = services_.settings.startupStorageError();
  if (store_) records_ = store_->records();

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
    if (previewWindow_ && previewWindow_->isVisible()) refreshDestinations(false);
  });
  // The text recognizer holds tens of megabytes; between bursts of captures
  // it gives them back.
  recognizerIdle_.setSingleShot(true);
  recognizerIdle_.setInterval(recognizerIdleDelay);
  connect(&recognizerIdle_, &QTimer::timeout, this, [this] { services_.ocr.releaseResources(); });
  quickDismissTimer_.setSingleShot(true);
  connect(&quickDismissTimer_, &QTimer::timeout, this, [this] { orderOut(quickWindow()); });
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

void AppModel::setTrayAvailable(bool available) {
  if (trayAvailable_ == available) return;
  trayAvailable_ = available;
  emit trayAvailableChanged();
}

void AppModel::reloadRecords() {
  records_ = store_ ? store_->records() : std::vector<CaptureRecord>{};
  emit recordsChanged();
}

QWidget* AppModel::quickWindow() const { return quickWindow_.get(); }
QWidget* AppModel::previewWindow() const { return previewWindow_.get(); }

// Capturing.

QCoro::Task<> AppModel::capture(CaptureMode mode) {
  if (busy_) co_return;
  setBusy(true);
  setError(std::nullopt);

  std::optional<DesktopApplication> returnApplication = services_.workspace.frontmostApplication();
  if (returnApplication &&
      returnApplication->pid == static_cast<int32_t>(QCoreApplication::applicationPid())) {
    returnApplication = lastExternalApplication_;
  }
  captureReturnApplication_ = returnApplication;
  captureDisplayID_ = services_.captureManager.pointerDisplay();

  hideQuickCapture();
  orderOut(previewWindow());
  orderOut(historyWindow());
  orderOut(preferencesWindow());
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
        orderOut(historyWindow());
        orderOut(preferencesWindow());
        returnFocus();
      }
    } else if (mode == CaptureMode::display) {
      CapturedImage captured =
          co_await manager.display(std::move(content), displayID, std::nullopt, application);
      if (!self) co_return;
      accept(std::move(captured));
    } else {
      openWindowChooser(content);
    }
  } catch (const std::exception& failure) {
    if (self) presentError(failure);
  }
  if (self) setBusy(false);
}

QCoro::Task<> AppModel::captureWindow(ShareableWindow window) {
  if (busy_) co_return;
  orderOut(chooserWindow());
  setBusy(true);
  const QPointer<AppModel> self(this);
  try {
    CapturedImage captured = co_await services_.captureManager.window(std::move(window));
    if (self) accept(std::move(captured));
  } catch (const std::exception& failure) {
    if (self) presentError(failure);
  }
  if (self) setBusy(false);
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

void AppModel::openWindowChooser(const ShareableContent& content) {
  if (!chooserWindow_) {
    auto chooser =
        std::make_unique<WindowChooser>([this](const ShareableWindow& window) { captureWindow(window); },
                                        services_.captureManager.isCompositing());
    chooserWindow_ = makeWindow(std::move(chooser), "Capture a Window", QSize(510, 480));
  }
  static_cast<WindowChooser&>(*chooserWindow_)
      .setWindows(
          choosableWindows(content.windows, static_cast<int32_t>(QCoreApplication::applicationPid())));
  showWindow(*chooserWindow_);
}

void AppModel::accept(CapturedImage captured) {
  generation_ = QUuid::createUuid();
  const QUuid token = generation_;
  captureDate_ = services_.clock();
  setSavedID(std::nullopt);
  setPrompt({});
  setStatus(QStringLiteral("Image copied to clipboard"));
  setError(std::nullopt);
  origin_ = captured.application;

  if (captured.image.isNull()) {
    presentError(QString::fromUtf8(fileWriteError));
    return;
  }
  // The PNG bytes are made on a worker while the image is already on offer.
  png_ = encodePNGInBackground(captured.image);
  reportFailedEncoding(png_, token);
  setImage(captured.image);
  Clipboard::copyImage(services_.pasteboard, image_, png_);

  const QString initialName = text(FilenameGenerator().filename({}, origin_, std::nullopt, captureDate_));
  setFilename(initialName);
  setNaming(true);
  updateImagePasteHint();

  orderOut(historyWindow());
  orderOut(preferencesWindow());
  returnFocus();
  showQuickCapture();
  suggestName(image_, origin_, std::move(captured.windowTitle), token, initialName, captureDate_);
}

QCoro::Task<> AppModel::suggestName(QImage image, std::optional<std::string> application,
                                    std::optional<std::string> windowTitle, QUuid token, QString initialName,
                                    Date date) {
  const QPointer<AppModel> self(this);
  const std::string name = co_await services_.ocr.suggestedName(std::move(image), std::move(application),
                                                                std::move(windowTitle), date);
  if (!self) co_return;
  recognizerIdle_.start();
  // A newer capture, an opened record or a discard took the place of this
  // capture: its name is not ours to touch, and neither is `naming`.
  if (generation_ != token) co_return;
  if (filename_ == initialName && !savedID_) setFilename(text(name));
  setNaming(false);
}

// The clipboard still offers the image in Qt's own encoding, but the capture
// cannot be saved: the user hears of it now rather than at Save.
QCoro::Task<> AppModel::reportFailedEncoding(QFuture<QByteArray> png, QUuid token) {
  const QPointer<AppModel> self(this);
  const QByteArray bytes = co_await png;
  if (self && generation_ == token && bytes.isEmpty()) setError(QString::fromUtf8(fileWriteError));
}

void AppModel::updateImagePasteHint() { setPasteHint(text(PasteHint::make(captureReturnApplication_))); }

// The workspace leaves an application that has ended alone, on its worker.
void AppModel::returnFocus() {
  if (captureReturnApplication_) services_.workspace.activate(*captureReturnApplication_);
}

// The thumbnail.

void AppModel::showQuickCapture() {
  if (!quickWindow_) {
    quickWindow_ = std::make_unique<CaptureReceiptPanel>(*this, services_.captureManager.isCompositing());
  }
  QScreen* screen = services_.captureManager.screen(captureDisplayID_);
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    const QRect area = screen->availableGeometry();
    quickWindow_->move(area.x() + area.width() - quickCaptureMargin - quickWindow_->width(),
                       area.y() + area.height() - quickCaptureMargin - quickWindow_->height());
  }
  quickWindow_->show();
  quickWindow_->raise();
  setQuickCaptureHovered(false);
}

void AppModel::hideQuickCapture() {
  quickDismissTimer_.stop();
  orderOut(quickWindow());
}

void AppModel::setQuickCaptureHovered(bool hovered) {
  quickDismissTimer_.stop();
  if (!hovered) quickDismissTimer_.start(services_.dismissalDelay);
}

// Windows.

void AppModel::showWindow(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
}

void AppModel::showPreview() {
  if (image_.isNull()) return;
  hideQuickCapture();
  refreshDestinations(true);
  if (!previewWindow_) {
    previewWindow_ = std::make_unique<ScreenshotPreview>(*this);
    previewWindow_->setWindowTitle(QStringLiteral("Lumacap"));
    centre(*previewWindow_);
    previewWindow_->installEventFilter(this);
  }
  showWindow(*previewWindow_);
  refreshTimer_.start();
}

void AppModel::showHistory() {
  if (!historyWindow_) {
    historyWindow_ = makeWindow(std::make_unique<HistoryView>(*this), "Recent Captures", QSize(720, 520));
  }
  showWindow(*historyWindow_);
}

void AppModel::showSettings() {
  if (!preferencesWindow_) {
    preferencesWindow_ =
        makeWindow(std::make_unique<PreferencesView>(*this), "Lumacap Settings", QSize(550, 560));
  }
  showWindow(*preferencesWindow_);
}

bool AppModel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == previewWindow_.get()) {
    if (event->type() == QEvent::Close) discard();
    if (event->type() == QEvent::Hide) refreshTimer_.stop();
  }
  return false;
}

void AppModel::discard() {
  generation_ = QUuid::createUuid();
  setNaming(false);
  png_ = {};
  setImage({});
  setSavedID(std::nullopt);
  setPrompt({});
  orderOut(previewWindow());
  hideQuickCapture();
}

void AppModel::presentError(const QString& message) {
  setError(message);
  services_.prompts.alert(message);
}

void AppModel::presentError(const std::exception& failure) { presentError(text(failure.what())); }

// Saving and delivery.

QCoro::Task<QByteArray> AppModel::pngOfCaptureInHand() {
  if (!store_ || image_.isNull()) throw StoreError(StoreError::Kind::missingCapture);
  const QPointer<AppModel> self(this);
  const QUuid token = generation_;
  QFuture<QByteArray> encoding = png_;
  const QByteArray png = co_await encoding;
  // The capture this was asked for was dropped or replaced meanwhile.
  if (!self || generation_ != token) throw StoreError(StoreError::Kind::missingCapture);
  if (png.isEmpty()) throw std::runtime_error(fileWriteError);
  co_return png;
}

QCoro::Task<CaptureRecord> AppModel::persist() {
  const QByteArray png = co_await pngOfCaptureInHand();
  ScreenshotStore& store = *store_;
  const std::string name = filename_.toStdString();
  CaptureRecord record;
  const auto& records = store.records();
  const auto saved = std::find_if(records.begin(), records.end(), [this](const CaptureRecord& candidate) {
    return candidate.id == savedID_;
  });
  if (savedID_ && saved != records.end()) {
    record = *saved;
    if (FilenameGenerator::stem(name) + ".png" != record.filename) record = store.rename(*savedID_, name);
  } else {
    // Never saved, or its record was deleted while the capture was in hand.
    record = store.save(std::string_view(png.constData(), static_cast<size_t>(png.size())), name, origin_,
                        captureDate_);
  }
  setSavedID(record.id);
  setFilename(text(record.filename));
  reloadRecords();
  co_return record;
}

QCoro::Task<> AppModel::save() {
  const QPointer<AppModel> self(this);
  try {
    co_await persist();
    if (!self) co_return;
    setStatus(QStringLiteral("Saved to local history"));
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
    writeFileAtomically(*location, std::string_view(png.constData(), static_cast<size_t>(png.size())));
    setStatus(QStringLiteral("Saved to ") + text(location->filename().string()));
    setError(std::nullopt);
  } catch (const std::exception& failure) {
    if (self) setError(text(failure.what()));
  }
}

void AppModel::copyImage() {
  if (image_.isNull()) return;
  Clipboard::copyImage(services_.pasteboard, image_, png_);
  setStatus(QStringLiteral("Image copied · paste it in your agent"));
  setError(std::nullopt);
}

void AppModel::copyImageAndReturn() {
  copyImage();
  updateImagePasteHint();
  orderOut(previewWindow());
  orderOut(historyWindow());
  orderOut(preferencesWindow());
  returnFocus();
  showQuickCapture();
}

QCoro::Task<> AppModel::send() {
  if (busy_) co_return;
  setBusy(true);
  setError(std::nullopt);
  const QPointer<AppModel> self(this);
  const QUuid token = generation_;

  CaptureRecord record;
  try {
    record = co_await persist();
  } catch (const std::exception& failure) {
    if (self) {
      setError(text(failure.what()));
      setBusy(false);
    }
    co_return;
  }

  const auto& destinations = services_.registry.destinations();
  const auto chosen =
      std::find_if(destinations.begin(), destinations.end(),
                   [this](const AgentDestination& d) { return text(d.id) == destinationID_; });
  if (chosen == destinations.end() || !store_) {
    setError(text(IntegrationError(IntegrationError::Kind::sessionEnded).what()));
    setBusy(false);
    co_return;
  }
  const AgentDestination destination = *chosen;

  DeliveryReceipt receipt;
  try {
    receipt = co_await services_.router.stage(store_->url(record), prompt_.toStdString(), destination);
  } catch (const std::exception& failure) {
    if (self) {
      setError(text(failure.what()));
      setBusy(false);
    }
    co_return;
  }
  if (!self) co_return;

  try {
    services_.settings.setLastDestination(destination.id);
  } catch (const std::exception& failure) {
    setError(text(failure.what()));
  }
  setStatus(text(receipt.status + " — " + receipt.message));
  try {
    store_->markStaged(record.id, destination.title, receipt.status);
  } catch (const std::exception& failure) {
    setError(text(receipt.status + ", but history could not be updated: " + failure.what()));
  }
  reloadRecords();
  // With an error the preview stays, so that it can be read; a capture that
  // was dropped while it was delivered has no thumbnail to show again.
  if (error_ || generation_ != token) {
    setBusy(false);
    co_return;
  }

  orderOut(previewWindow());
  if (!destination.session) {
    orderOut(historyWindow());
    orderOut(preferencesWindow());
    returnFocus();
    setPasteHint(text(PasteHint::afterTextCopied(captureReturnApplication_)));
  } else {
    // The integration brought the session's terminal forward; focus stays there.
    setPasteHint(QStringLiteral("Staged · select the session and paste"));
  }
  showQuickCapture();
  setBusy(false);
}

QCoro::Task<> AppModel::refreshDestinations(bool suggest) {
  const QPointer<AppModel> self(this);
  std::optional<std::string> preferred;
  if (lastExternalApplication_) preferred = lastExternalApplication_->bundleIdentifier;
  co_await services_.registry.refresh(preferred);
  if (!self) co_return;

  const auto& destinations = services_.registry.destinations();
  const auto listed = [&](const std::string& id) {
    return std::any_of(destinations.begin(), destinations.end(),
                       [&](const AgentDestination& destination) { return destination.id == id; });
  };
  if (!suggest) {
    if (!listed(destinationID_.toStdString())) setDestinationID(clipboardID);
    co_return;
  }
  if (const auto last = services_.settings.lastDestination(); last && listed(*last)) {
    setDestinationID(text(*last));
    co_return;
  }
  const std::optional<std::string> returnBundle =
      captureReturnApplication_ ? captureReturnApplication_->bundleIdentifier : std::nullopt;
  for (const AgentDestination& destination : destinations) {
    if (destination.session && destination.session->hostBundleID == returnBundle) {
      setDestinationID(text(destination.id));
      co_return;
    }
  }
  setDestinationID(clipboardID);
}

// Recorded captures.

QCoro::Task<> AppModel::openRecord(CaptureRecord record) {
  if (!store_) co_return;
  const QPointer<AppModel> self(this);
  captureReturnApplication_ = lastExternalApplication_;
  captureDisplayID_ = services_.captureManager.pointerDisplay();
  const QUuid token = generation_;

  const LoadedCapture loaded = co_await loadCapture(store_->url(record));
  if (!self || generation_ != token) co_return;  // a capture came first
  if (loaded.error) {
    presentError(describe(loaded.error));
    co_return;
  }
  if (loaded.image.isNull()) {
    presentError(StoreError(StoreError::Kind::missingCapture));
    co_return;
  }

  generation_ = QUuid::createUuid();
  setNaming(false);
  png_ = QtFuture::makeReadyFuture(loaded.png);
  setImage(loaded.image);
  setFilename(text(record.filename));
  captureDate_ = record.createdAt;
  origin_ = record.application;
  setSavedID(record.id);
  setPrompt({});
  setError(std::nullopt);
  setStatus(QStringLiteral("Saved capture · ready to copy or stage again"));
  showPreview();
  co_await refreshDestinations(true);
}

QCoro::Task<> AppModel::copy(CaptureRecord record) {
  const QPointer<AppModel> self(this);
  if (!store_) {
    presentError(StoreError(StoreError::Kind::missingCapture));
    co_return;
  }
  const LoadedCapture loaded = co_await loadCapture(store_->url(record));
  if (!self) co_return;
  if (loaded.error || loaded.image.isNull()) {
    presentError(StoreError(StoreError::Kind::missingCapture));
    co_return;
  }
  Clipboard::copyImage(services_.pasteboard, loaded.image, QtFuture::makeReadyFuture(loaded.png));
}

void AppModel::rename(CaptureRecord record, const QString& name) {
  std::optional<CaptureRecord> renamed;
  if (store_) {
    try {
      renamed = store_->rename(record.id, name.toStdString());
    } catch (const std::exception& failure) {
      presentError(failure);
      return;
    }
  }
  reloadRecords();
  if (renamed && savedID_ == record.id) setFilename(text(renamed->filename));
}

void AppModel::remove(CaptureRecord record) {
  if (store_) {
    try {
      store_->remove(record.id);
    } catch (const std::exception& failure) {
      presentError(failure);
      return;
    }
  }
  reloadRecords();
  if (savedID_ == record.id) discard();
}

void AppModel::deleteAll() {
  std::exception_ptr failure;
  if (store_) {
    try {
      store_->deleteAll();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  reloadRecords();
  if (failure) {
    presentError(describe(failure));
  } else {
    discard();
  }
}

}  // namespace lumacap
