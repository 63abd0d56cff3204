#include "app/model/AppModel.h"

#include <QCoroFuture>
#include <algorithm>

#include "app/agents/AgentRouter.h"
#include "app/capture/CaptureManager.h"
#include "app/model/MarkupModel.h"
#include "app/model/SettingsManager.h"
#include "app/model/StatusText.h"
#include "platform/CaptureFileReader.h"
#include "platform/ImageCoding.h"
#include "platform/ReadyFuture.h"

namespace lumacap {
namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }
QString text(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

AppModel::AppModel(Services services, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      feedback_(services_.prompts),
      history_(services_.openStore),
      destination_(services_.registry, services_.settings),
      slot_(services_.windows),
      clipboard_(services_.pasteboard, slot_, feedback_),
      guard_(services_.settings, slot_, clipboard_, feedback_),
      card_(services_.windows, slot_, services_.dismissalDelay),
      workflow_(services_, slot_, clipboard_, guard_, feedback_, card_),
      delivery_(services_, history_, destination_, slot_, clipboard_, feedback_, card_) {
  slot_->displayID = workflow_.takingDisplayID();
  slot_->date = services_.clock();
  if (services_.settings.startupStorageError()) feedback_.setError(services_.settings.startupStorageError());

  // What the parts say is what the model publishes.
  connect(&history_, &CaptureHistory::recordsChanged, this, &AppModel::recordsChanged);
  history_.setRetention(services_.settings.retention());
  connect(&delayed_, &DelayedCapture::due, this, [this](CaptureMode mode) { capture(mode); });
  connect(&services_.settings, &SettingsManager::retentionChanged, this,
          [this] { history_.setRetention(services_.settings.retention()); });
  connect(&history_, &CaptureHistory::retentionFailed, this,
          [this](const QString& why) { feedback_.presentError(why); });
  connect(&workflow_, &CaptureWorkflow::recognized, this, [this](QPointer<CaptureInHand> capture) {
    if (!capture) return;
    history_.noteRecognizedText(*capture);
    // Saved as soon as it has its suggested name; the card then says "Saved".
    if (services_.settings.saveEveryCapture() && !capture->savedID && capture == slot_.get())
      delivery_.save();
  });
  connect(&destination_, &DestinationChoice::changed, this, &AppModel::destinationIDChanged);
  connect(&feedback_, &Feedback::busyChanged, this, &AppModel::busyChanged);
  connect(&feedback_, &Feedback::namingChanged, this, &AppModel::namingChanged);
  connect(&feedback_, &Feedback::statusChanged, this, &AppModel::statusChanged);
  connect(&feedback_, &Feedback::errorChanged, this, &AppModel::errorChanged);
  connect(&feedback_, &Feedback::pasteHintChanged, this, &AppModel::pasteHintChanged);
  connect(&feedback_, &Feedback::noteChanged, this, &AppModel::noteChanged);
  connect(&slot_, &CaptureSlot::imageChanged, this, &AppModel::imageChanged);
  connect(&slot_, &CaptureSlot::filenameChanged, this, &AppModel::filenameChanged);
  connect(&slot_, &CaptureSlot::promptChanged, this, &AppModel::promptChanged);
  connect(&slot_, &CaptureSlot::savedIDChanged, this, &AppModel::savedIDChanged);
  connect(&slot_, &CaptureSlot::markedUpChanged, this, &AppModel::markedUpChanged);
  connect(&slot_, &CaptureSlot::secretsChanged, this, &AppModel::secretsChanged);
  connect(&slot_, &CaptureSlot::recognizedTextChanged, this, &AppModel::recognizedTextChanged);
  connect(&slot_, &CaptureSlot::encodingFailed, this,
          [this] { feedback_.setError(text(StatusText::fileWriteError)); });
  connect(&clipboard_, &ClipboardOffer::stateChanged, this, &AppModel::clipboardStateChanged);
  connect(&guard_, &SecretsGuard::markupWanted, this, [this] { openMarkup(); });
  connect(&workflow_, &CaptureWorkflow::previewWanted, this, &AppModel::presentPreview);

  // Destinations are refreshed only while the preview is on screen.
  refreshTimer_.setInterval(services_.refreshInterval);
  connect(&refreshTimer_, &QTimer::timeout, this, [this] {
    if (services_.windows.previewShown()) {
      refreshDestinations(false);
    } else {
      refreshTimer_.stop();
    }
  });
}

void AppModel::setDestinationID(const QString& id) {
  slot_->destinationChosen = true;
  destination_.choose(id);
}

void AppModel::setTrayAvailable(bool available) {
  if (trayAvailable_ == available) return;
  trayAvailable_ = available;
  emit trayAvailableChanged();
}

QCoro::Task<> AppModel::openStore() {
  const QPointer<AppModel> self(this);
  const std::optional<QString> failure = co_await history_.open();
  if (self && failure) feedback_.setError(*failure);
}

// Windows.

// Opens the preview and suggests a destination for the capture in hand.
QCoro::Task<> AppModel::presentPreview() {
  if (slot_->image.isNull()) co_return;
  card_.hide();
  services_.windows.showPreview();
  refreshTimer_.start();
  co_await refreshDestinations(true);
}

void AppModel::showHistory() { services_.windows.showHistory(); }

void AppModel::showSettings() { services_.windows.showSettings(); }

QCoro::Task<> AppModel::refreshDestinations(bool suggest) {
  std::optional<std::string> preferred;
  if (const auto& last = workflow_.lastExternalApplication()) preferred = last->bundleIdentifier;
  std::optional<std::string> returnBundle;
  if (slot_->returnApplication) returnBundle = slot_->returnApplication->bundleIdentifier;
  co_await destination_.refresh(suggest, slot_->destinationChosen, preferred, returnBundle);
}

// Mark-up.

void AppModel::openMarkup(std::vector<Rect> redactions) {
  if (slot_->image.isNull() || !guard_.markupMayOpen()) return;
  card_.hide();
  services_.windows.showMarkup(redactions);
}

void AppModel::applyMarkup(QImage flattened, const MarkupModel& markup) {
  if (slot_->image.isNull() || flattened.isNull()) return;
  slot_->markUp(markup);
  clipboard_.replaceImage(flattened, encodePNGInBackground(flattened));
  feedback_.setPasteHint(text(PasteHint::afterMarkup(slot_->redacted())));
  if (!services_.windows.previewShown()) card_.show();
}

void AppModel::revertToOriginal() {
  const bool redacted = slot_->redacted();
  auto original = slot_->takeOriginal();
  if (!original) return;
  clipboard_.replaceImage(std::move(original->first), std::move(original->second),
                          text(redacted ? StatusText::unredactedCopied : StatusText::originalCopied));
}

void AppModel::redactSecrets() {
  if (secrets().empty()) return;
  openMarkup(guard_.redactionBoxes());
}

void AppModel::discard() {
  feedback_.setNaming(false);
  auto* empty = new CaptureInHand();
  empty->displayID = slot_->displayID;
  empty->returnApplication = slot_->returnApplication;
  slot_.put(empty);
  feedback_.setNote({});
  services_.windows.hidePreview();
  card_.hide();
}

// Recorded captures.

QCoro::Task<> AppModel::openRecord(CaptureRecord record) {
  if (!history_.store()) co_return;
  const QPointer<CaptureInHand> before(slot_.get());
  const uint32_t display = co_await services_.captureManager.pointerDisplay();
  if (!before || before != slot_.get()) co_return;
  const LoadedCapture loaded = co_await CaptureFileReader::load(history_.store()->url(record));
  // A capture or a discard came first.
  if (!before || before != slot_.get()) co_return;
  if (!loaded.error.isEmpty()) {
    feedback_.presentError(loaded.error);
    co_return;
  }

  auto* next = new CaptureInHand();
  next->displayID = display;
  next->returnApplication = workflow_.lastExternalApplication();
  next->image = loaded.image;
  next->png = readyFuture(loaded.png);
  next->filename = text(record.filename);
  next->date = record.createdAt;
  next->application = record.application;
  next->savedID = record.id;
  feedback_.setNaming(false);
  slot_.put(next);
  feedback_.setNote({});
  feedback_.setError(std::nullopt);
  feedback_.setStatus(text(StatusText::openedRecord));
  co_await presentPreview();
}

QCoro::Task<> AppModel::copy(CaptureRecord record) {
  const QPointer<AppModel> self(this);
  if (!history_.store()) {
    feedback_.presentError(StoreError(StoreError::Kind::missingCapture));
    co_return;
  }
  const LoadedCapture loaded = co_await CaptureFileReader::load(history_.store()->url(record));
  if (!self) co_return;
  if (!loaded.error.isEmpty()) {
    feedback_.presentError(loaded.error);
    co_return;
  }
  const bool held =
      co_await Clipboard::copyImage(services_.pasteboard, loaded.image, readyFuture(loaded.png));
  if (!self) co_return;
  feedback_.setStatus(text(held ? StatusText::copiedForAgent : StatusText::copyRefused));
}

QCoro::Task<> AppModel::rename(CaptureRecord record, QString name) {
  if (!history_.store()) co_return;
  const QPointer<AppModel> self(this);
  const std::string typed = name.toStdString();
  try {
    const CaptureRecord renamed = co_await history_.rename(record.id, typed);
    if (!self) co_return;
    if (slot_->savedID == record.id) delivery_.showStoredName(renamed, typed);
    feedback_.setStatus(text(StatusText::renamedTo) + text(renamed.filename));
  } catch (const StoreError& failure) {
    if (!self) co_return;
    if (failure.kind() != StoreError::Kind::nameTaken) co_return feedback_.presentError(failure);
    feedback_.setStatus(text(failure.what()));
  } catch (const std::exception& failure) {
    if (self) feedback_.presentError(failure);
  }
}

void AppModel::copyPaths(const std::vector<CaptureRecord>& records) {
  if (!history_.store()) return feedback_.presentError(StoreError(StoreError::Kind::missingCapture));
  std::string paths;
  for (const CaptureRecord& record : records) paths += history_.store()->url(record).string() + "\n";
  services_.pasteboard.setText(paths);
  feedback_.setStatus(text(StatusText::pathsCopied).arg(records.size()));
}

QCoro::Task<> AppModel::remove(std::vector<CaptureRecord> records) {
  if (!history_.store()) co_return;
  const QPointer<AppModel> self(this);
  std::vector<std::string> ids;
  for (const CaptureRecord& record : records) ids.push_back(record.id);
  try {
    co_await history_.remove(ids);
    if (self && slot_->savedID && std::count(ids.begin(), ids.end(), *slot_->savedID)) discard();
  } catch (const std::exception& failure) {
    if (self) feedback_.presentError(failure);
  }
}

QCoro::Task<> AppModel::deleteAll() {
  const QPointer<AppModel> self(this);
  try {
    co_await history_.removeAll();
    if (self) discard();
  } catch (const std::exception& failure) {
    if (self) feedback_.presentError(failure);
  }
}

QCoro::Task<std::optional<std::string>> AppModel::captureForAgent(QString banner) {
  if (busy()) co_return std::nullopt;
  const QPointer<AppModel> self(this);
  const QPointer<CaptureInHand> before(slot_.get());
  services_.captureManager.setBanner(banner);
  co_await workflow_.capture(CaptureMode::region);
  if (!self) co_return std::nullopt;
  services_.captureManager.setBanner({});
  const QPointer<CaptureInHand> taken(slot_.get());
  if (!taken || taken == before) co_return std::nullopt;
  co_await delivery_.save();
  if (!self || !taken) co_return std::nullopt;
  co_return taken->savedID;
}

void AppModel::cancelSelection() { services_.captureManager.cancelSelection(); }

}  // namespace lumacap
