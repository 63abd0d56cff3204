#include "app/model/Delivery.h"

#include <QCoroFuture>
#include <QtConcurrent/QtConcurrentRun>
#include <filesystem>

#include "app/agents/AgentRouter.h"
#include "app/model/AppWindows.h"
#include "app/model/CaptureHistory.h"
#include "app/model/CaptureSlot.h"
#include "app/model/ClipboardOffer.h"
#include "app/model/DestinationChoice.h"
#include "app/model/Feedback.h"
#include "app/model/QuickCaptureCard.h"
#include "app/model/SettingsManager.h"
#include "app/model/StatusText.h"
#include "core/AtomicFile.h"
#include "core/FilenameGenerator.h"

namespace lumacap {
namespace {

QString toQt(const std::string& utf8) { return QString::fromStdString(utf8); }
QString toQt(const char* utf8) { return QString::fromUtf8(utf8); }

// Writes `png` to `location` on a worker; the future holds what that threw, if anything.
QFuture<std::exception_ptr> exporting(QByteArray png, std::filesystem::path location) {
  return QtConcurrent::run([png = std::move(png), location = std::move(location)]() -> std::exception_ptr {
    try {
      writeUserFileAtomically(location, std::string_view(png.constData(), static_cast<size_t>(png.size())));
      return nullptr;
    } catch (...) {
      return std::current_exception();
    }
  });
}

}  // namespace

Delivery::Delivery(ModelServices& services, CaptureHistory& history, DestinationChoice& destination,
                   CaptureSlot& slot, ClipboardOffer& clipboard, Feedback& feedback, QuickCaptureCard& card,
                   QObject* parent)
    : QObject(parent),
      services_(services),
      history_(history),
      destination_(destination),
      slot_(slot),
      clipboard_(clipboard),
      feedback_(feedback),
      card_(card) {}

// The PNG of the capture in hand once nothing keeps it back; throws when the
// capture leaves meanwhile.
QCoro::Task<QByteArray> Delivery::pngOfCaptureInHand() {
  if (!history_.store()) throw std::runtime_error(StatusText::historyUnreadable);
  if (slot_->image.isNull()) throw StoreError(StoreError::Kind::missingCapture);
  const QPointer<CaptureInHand> capture(slot_.get());
  // Nothing unredacted reaches the history or an exported file either.
  co_await clipboard_.untilReleased(capture);
  if (!capture) throw StoreError(StoreError::Kind::missingCapture);
  const QByteArray png = co_await QFuture<QByteArray>(capture->png);
  if (!capture) throw StoreError(StoreError::Kind::missingCapture);
  if (png.isEmpty()) throw std::runtime_error(StatusText::fileWriteError);
  co_return png;
}

// Saves the capture in hand, or gives its record the name typed since. The
// name field then shows the name the store used, and `note` says why when a
// capture already had the one typed.
QCoro::Task<CaptureRecord> Delivery::persist() {
  const QPointer<CaptureInHand> capture(slot_.get());
  const QByteArray png = co_await pngOfCaptureInHand();
  const std::string typed = capture->filename.toStdString();
  const CaptureRecord record =
      co_await history_.save(capture->savedID, png, typed, capture->application, capture->date);
  if (capture) {
    slot_.setSavedID(record.id);
    showStoredName(record, typed);
    history_.noteRecognizedText(*capture);
  }
  co_return record;
}

void Delivery::showStoredName(const CaptureRecord& record, const std::string& typed) {
  const std::string wanted = FilenameGenerator::stem(typed) + ".png";
  slot_.setFilename(toQt(record.filename));
  feedback_.setNote(record.filename == wanted
                        ? QString()
                        : toQt(StatusText::savedAs).arg(toQt(record.filename), toQt(wanted)));
}

bool Delivery::renamePending() const {
  const QString stored = storedFilename();
  return !stored.isEmpty() && toQt(FilenameGenerator::stem(slot_->filename.toStdString()) + ".png") != stored;
}

QString Delivery::storedFilename() const {
  const std::optional<CaptureRecord> record = history_.record(slot_->savedID);
  return record ? toQt(record->filename) : QString();
}

QCoro::Task<> Delivery::save() {
  // A save of this capture under way (the one made as it was taken, or a
  // second click) stores it once.
  if (saving_ && saving_ == slot_.get()) co_return;
  saving_ = slot_.get();
  const QPointer<Delivery> self(this);
  try {
    co_await persist();
    if (!self) co_return;
    saving_ = nullptr;
    feedback_.setStatus(feedback_.note().isEmpty() ? toQt(StatusText::savedToHistory) : feedback_.note());
    feedback_.setError(std::nullopt);
  } catch (const std::exception& failure) {
    if (!self) co_return;
    saving_ = nullptr;
    feedback_.setError(toQt(failure.what()));
  }
}

QCoro::Task<> Delivery::exportCapture() {
  if (slot_->image.isNull()) co_return;
  const QPointer<Delivery> self(this);
  const QString proposed = toQt(FilenameGenerator::stem(slot_->filename.toStdString()) + ".png");
  const std::optional<std::filesystem::path> location = services_.prompts.exportLocation(proposed);
  if (!self || !location) co_return;
  try {
    const QByteArray png = co_await pngOfCaptureInHand();
    const std::exception_ptr failed = co_await exporting(png, *location);
    if (!self) co_return;
    if (failed) std::rethrow_exception(failed);
    feedback_.setStatus(toQt(StatusText::savedTo) + toQt(location->filename().string()));
    feedback_.setError(std::nullopt);
  } catch (const std::exception& failure) {
    if (self) feedback_.setError(toQt(failure.what()));
  }
}

QCoro::Task<> Delivery::copyImageAndReturn() {
  if (renamePending()) {
    if (feedback_.busy()) co_return;
    const Feedback::BusyScope busy(feedback_);
    const QPointer<CaptureInHand> capture(slot_.get());
    try {
      co_await persist();
    } catch (const std::exception& failure) {
      if (capture) feedback_.setError(toQt(failure.what()));
      co_return;
    }
    if (!capture) co_return;
  }
  clipboard_.copyImage();
  clipboard_.updatePasteHint();
  services_.windows.hideForPasting();
  returnFocus();
  card_.show();
}

QCoro::Task<> Delivery::send() {
  if (feedback_.busy()) co_return;
  const Feedback::BusyScope busy(feedback_);
  feedback_.setError(std::nullopt);
  const QPointer<Delivery> self(this);
  const QPointer<CaptureInHand> capture(slot_.get());
  const std::string message = capture->prompt.toStdString();
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
    if (capture && !feedback_.error()) finishDelivery(destination, receipt);
  } catch (const std::exception& failure) {
    if (self) feedback_.setError(toQt(failure.what()));
  }
}

QCoro::Task<> Delivery::recordDelivery(CaptureRecord record, AgentDestination destination,
                                       DeliveryReceipt receipt, std::string message) {
  const QPointer<Delivery> self(this);
  try {
    services_.settings.setLastDestination(destination.id);
  } catch (const std::exception& failure) {
    feedback_.setError(toQt(failure.what()));
  }
  feedback_.setStatus(toQt(receipt.status + " — " + receipt.message));
  try {
    co_await history_.markStaged(record.id, destination.title, receipt.status, message);
  } catch (const std::exception& failure) {
    if (self) feedback_.setError(toQt(receipt.status + StatusText::historyNotUpdated + failure.what()));
  }
}

void Delivery::finishDelivery(const AgentDestination& destination, const DeliveryReceipt& receipt) {
  services_.windows.hidePreview();
  if (!destination.session) {
    services_.windows.hideForPasting();
    returnFocus();
    feedback_.setPasteHint(toQt(PasteHint::afterTextCopied(slot_->returnApplication)));
  } else {
    // The integration brought the session's terminal forward when it could;
    // focus stays where it put it.
    feedback_.setPasteHint(toQt(PasteHint::afterStaging(receipt.broughtForward)));
  }
  card_.show();
}

// The workspace leaves an application that has ended alone, on its worker.
void Delivery::returnFocus() {
  if (slot_->returnApplication) services_.workspace.activate(*slot_->returnApplication);
}

}  // namespace lumacap
