#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <optional>
#include <vector>

#include "core/CaptureSearch.h"
#include "core/ScreenshotStore.h"

namespace lumacap {

class ThumbnailCache;

// The saved captures as rows for the Recent Captures list: the file name as
// the display text, the thumbnail as the decoration (null until it is
// decoded), and the two lines under the name. With a search, only the
// captures that match it are rows.
class HistoryListModel final : public QAbstractListModel {
  Q_OBJECT

 public:
  enum Role {
    // "<application or Screen> · <date and time>"
    detailRole = Qt::UserRole + 1,
    // "<delivery status or Staged> · <destination>", only for a capture that
    // was delivered somewhere.
    deliveryRole,
  };

  explicit HistoryListModel(ThumbnailCache& thumbnails, QObject* parent = nullptr);

  // Takes the history as it is now. The store changes one capture at a time,
  // and the view is told just that change, so that its scroll position and
  // selection stay where they were.
  void setRecords(std::vector<CaptureRecord> records);
  // Shows only the captures matching `query` (CaptureSearch); all of them
  // for an empty one.
  void setSearch(const QString& query);
  const QString& search() const { return query_; }
  // The rows shown, and every capture of the history.
  const std::vector<CaptureRecord>& records() const { return records_; }
  const std::vector<CaptureRecord>& allRecords() const { return all_; }
  const CaptureRecord& record(const QModelIndex& index) const { return records_.at(index.row()); }

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  static QString detailLine(const CaptureRecord& record);
  static std::optional<QString> deliveryLine(const CaptureRecord& record);

 private:
  void show(std::vector<CaptureRecord> records);
  void replace(std::vector<CaptureRecord> records);
  void thumbnailArrived(const QString& filename);

  ThumbnailCache& thumbnails_;
  std::vector<CaptureRecord> all_;
  CaptureSearch searcher_;
  QString query_;
  std::vector<CaptureRecord> records_;
  QHash<QString, int> rowOfFilename_;
};

}  // namespace lumacap
