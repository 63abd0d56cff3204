#include "app/model/CaptureHistory.h"

#include <QCoroFuture>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <variant>

#include "app/model/CaptureInHand.h"
#include "core/CaptureError.h"

namespace lumacap {

namespace {

using OpenedStore = std::variant<std::shared_ptr<ScreenshotStore>, QString>;

// Opens the store on a worker: the store, or why it could not be opened.
// (Made outside the coroutine: GCC 12 destroys the captures of a lambda made
// inside one twice.)
QFuture<OpenedStore> openOnWorker(const std::function<std::unique_ptr<ScreenshotStore>()>& open) {
  return QtConcurrent::run([open]() -> OpenedStore {
    try {
      return std::shared_ptr<ScreenshotStore>(open());
    } catch (const std::exception& failure) {
      return QString::fromStdString(failure.what());
    }
  });
}

}  // namespace

CaptureHistory::CaptureHistory(std::function<std::unique_ptr<ScreenshotStore>()> open, QObject* parent)
    : QObject(parent), open_(std::move(open)) {}

std::optional<CaptureRecord> CaptureHistory::record(const std::optional<std::string>& id) const {
  if (!id) return std::nullopt;
  const auto found = std::find_if(records_.begin(), records_.end(),
                                  [&](const CaptureRecord& record) { return record.id == *id; });
  if (found == records_.end()) return std::nullopt;
  return *found;
}

QCoro::Task<std::optional<QString>> CaptureHistory::open() {
  const QPointer<CaptureHistory> self(this);
  const OpenedStore opened = co_await openOnWorker(open_);
  if (!self) co_return std::nullopt;
  if (const auto* failure = std::get_if<QString>(&opened)) co_return *failure;
  store_ = std::get<std::shared_ptr<ScreenshotStore>>(opened);
  records_ = store_->records();
  emit recordsChanged();
  co_await setRetention(retention_);
  co_return std::nullopt;
}

// The records the write left behind become the history's; its failure is thrown.
QCoro::Task<std::optional<CaptureRecord>> CaptureHistory::write(StoreWorker::Work work) {
  if (!store_) throw StoreError(StoreError::Kind::missingCapture);
  const QPointer<CaptureHistory> self(this);
  StoreWorker::Outcome outcome = co_await worker_.run(*store_, std::move(work));
  if (!self) throw StoreError(StoreError::Kind::missingCapture);
  records_ = std::move(outcome.records);
  emit recordsChanged();
  if (outcome.error) std::rethrow_exception(outcome.error);
  co_return outcome.record;
}

QCoro::Task<CaptureRecord> CaptureHistory::save(std::optional<std::string> savedID, QByteArray png,
                                                std::string name, std::optional<std::string> application,
                                                Date date) {
  const CaptureRecord record = *co_await write(
      StoreWorker::saving(std::move(savedID), std::move(png), std::move(name), std::move(application), date));
  co_await setRetention(retention_);
  co_return record;
}

QCoro::Task<CaptureRecord> CaptureHistory::rename(std::string id, std::string name) {
  co_return *co_await write(StoreWorker::renaming(std::move(id), std::move(name)));
}

QCoro::Task<> CaptureHistory::markStaged(std::string id, std::string destination, std::string status,
                                         std::string message) {
  co_await write(StoreWorker::markingStaged(std::move(id), std::move(destination), std::move(status),
                                            std::move(message)));
}

void CaptureHistory::noteRecognizedText(const CaptureInHand& capture) {
  if (!capture.savedID || !store_) return;
  noteText(*capture.savedID,
           capture.secrets().empty() ? capture.recognizedText().toStdString() : std::string());
}

QCoro::Task<> CaptureHistory::noteText(std::string id, std::string text) {
  try {
    co_await write(StoreWorker::notingRecognizedText(std::move(id), std::move(text)));
  } catch (const std::exception&) {
  }
}

QCoro::Task<> CaptureHistory::remove(std::vector<std::string> ids) {
  co_await write(StoreWorker::removing(std::move(ids)));
}

QCoro::Task<> CaptureHistory::setRetention(Retention retention) {
  retention_ = retention;
  if (!store_ || retention.kind == Retention::Kind::keepAll) co_return;
  const QPointer<CaptureHistory> self(this);
  try {
    co_await write(StoreWorker::retaining(retention, Date::now()));
  } catch (const std::exception& failure) {
    if (self) emit retentionFailed(QString::fromStdString(failure.what()));
  }
}

QCoro::Task<> CaptureHistory::chooseFolder(std::filesystem::path folder, bool move) {
  co_await write(StoreWorker::choosingFolder(std::move(folder), move));
}

size_t CaptureHistory::countOutside(const std::filesystem::path& folder) const {
  return store_ ? ScreenshotStore::countOutside(records_, store_->root(), folder) : 0;
}

QCoro::Task<> CaptureHistory::removeAll() {
  if (store_) co_await write(&StoreWorker::deletingAll);
}

}  // namespace lumacap
