#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/model/StoreWorker.h"
#include "core/Date.h"
#include "core/ScreenshotStore.h"

namespace lumacap {

class CaptureInHand;

// The recorded captures: the history store, opened on a worker, and the
// records its last write left behind. Every write runs on the store's
// worker, one at a time; each throws what the store threw, after the
// records it left are published.
class CaptureHistory final : public QObject {
  Q_OBJECT

 public:
  // `open` may throw: the history then stays without a store.
  explicit CaptureHistory(std::function<std::unique_ptr<ScreenshotStore>()> open, QObject* parent = nullptr);

  ScreenshotStore* store() const { return store_.get(); }
  const std::vector<CaptureRecord>& records() const { return records_; }
  // The record with this id, if it is listed.
  std::optional<CaptureRecord> record(const std::optional<std::string>& id) const;

  // Opens the store (a long history takes a while to decode); the failure's
  // text, if it fails.
  QCoro::Task<std::optional<QString>> open();

  // Saves a capture, or gives its record `name` when it has one.
  QCoro::Task<CaptureRecord> save(std::optional<std::string> savedID, QByteArray png, std::string name,
                                  std::optional<std::string> application, Date date);
  QCoro::Task<CaptureRecord> rename(std::string id, std::string name);
  QCoro::Task<> markStaged(std::string id, std::string destination, std::string status, std::string message);
  // Keeps the text recognised in a saved capture in its record, for the
  // search; not while the image shows possible secrets (a text already kept
  // is then dropped). A failure only leaves the capture unfound by its text.
  void noteRecognizedText(const CaptureInHand& capture);
  // Removes these captures together, or none of them.
  QCoro::Task<> remove(std::vector<std::string> ids);
  QCoro::Task<> removeAll();
  // Saves new captures to `folder` from now on; with `move`, every image
  // elsewhere moves there first, all or none (the failure is thrown, and
  // nothing moved).
  QCoro::Task<> chooseFolder(std::filesystem::path folder, bool move);
  // How many captures have their image elsewhere than in `folder`.
  size_t countOutside(const std::filesystem::path& folder) const;

  // How long captures are kept: applied now (once the store is open) and
  // after every save; a failure is told by retentionFailed.
  const Retention& retention() const { return retention_; }
  QCoro::Task<> setRetention(Retention retention);

 signals:
  void recordsChanged();
  // Removing the captures the retention no longer keeps failed; none of
  // them was removed.
  void retentionFailed(const QString& reason);

 private:
  QCoro::Task<std::optional<CaptureRecord>> write(StoreWorker::Work work);
  QCoro::Task<> noteText(std::string id, std::string text);

  std::function<std::unique_ptr<ScreenshotStore>()> open_;
  std::shared_ptr<ScreenshotStore> store_;
  std::vector<CaptureRecord> records_;
  Retention retention_;
  // After `store_`: it goes first, waiting for the write under way.
  StoreWorker worker_;
};

}  // namespace lumacap
