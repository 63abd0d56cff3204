#include "app/views/HistoryListModel.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>

#include "app/views/ThumbnailCache.h"

namespace lumacap {
namespace {

// The locale's short date and time, to the minute (some locales' short
// time has seconds).
QString shortDateTimeFormat() {
  static const QString format = [] {
    QString pattern = QLocale().dateTimeFormat(QLocale::ShortFormat);
    pattern.remove(QRegularExpression(QStringLiteral("[:.]ss?")));
    return pattern;
  }();
  return format;
}

bool sameID(const CaptureRecord& a, const CaptureRecord& b) { return a.id == b.id; }

// The row of the one record that `after` lacks, when that is the only change
// of the sequence.
std::optional<int> removedRow(const std::vector<CaptureRecord>& before,
                              const std::vector<CaptureRecord>& after) {
  if (after.size() + 1 != before.size()) return std::nullopt;
  const auto [gap, rest] = std::mismatch(after.begin(), after.end(), before.begin(), sameID);
  if (!std::equal(gap, after.end(), rest + 1, before.end(), sameID)) return std::nullopt;
  return static_cast<int>(rest - before.begin());
}

// Whether `after` is `before` with one new record in front (a new capture).
bool addedOnTop(const std::vector<CaptureRecord>& before, const std::vector<CaptureRecord>& after) {
  return after.size() == before.size() + 1 &&
         std::equal(after.begin() + 1, after.end(), before.begin(), before.end(), sameID);
}

}  // namespace

HistoryListModel::HistoryListModel(ThumbnailCache& thumbnails, QObject* parent)
    : QAbstractListModel(parent), thumbnails_(thumbnails) {
  connect(&thumbnails_, &ThumbnailCache::loaded, this, &HistoryListModel::thumbnailArrived);
}

void HistoryListModel::setRecords(std::vector<CaptureRecord> records) {
  QSet<QString> filenames;
  for (const CaptureRecord& record : records) filenames.insert(QString::fromStdString(record.filename));
  thumbnails_.keepOnly(filenames);
  all_ = std::move(records);
  if (!query_.isEmpty()) searcher_.setRecords(all_);
  setSearch(query_);
}

void HistoryListModel::setSearch(const QString& query) {
  // The texts are folded for the first search, not for every change of a
  // history nobody searches.
  if (query_.isEmpty() && !query.isEmpty()) searcher_.setRecords(all_);
  const bool searching = !query_.trimmed().isEmpty() || !query.trimmed().isEmpty();
  query_ = query;
  std::vector<CaptureRecord> shown;
  if (query.trimmed().isEmpty()) {
    shown = all_;
  } else {
    for (size_t row : searcher_.matches(query.toStdString())) shown.push_back(all_[row]);
  }
  if (!searching) return show(std::move(shown));
  // Another search: other rows altogether, told at once.
  beginResetModel();
  replace(std::move(shown));
  endResetModel();
}

void HistoryListModel::show(std::vector<CaptureRecord> records) {
  if (const auto row = removedRow(records_, records)) {
    beginRemoveRows({}, *row, *row);
    replace(std::move(records));
    endRemoveRows();
  } else if (addedOnTop(records_, records)) {
    beginInsertRows({}, 0, 0);
    replace(std::move(records));
    endInsertRows();
  } else if (std::equal(records.begin(), records.end(), records_.begin(), records_.end(), sameID)) {
    // Renamed or delivered: same rows, new contents.
    std::vector<int> changed;
    for (size_t row = 0; row < records.size(); ++row) {
      if (records[row] != records_[row]) changed.push_back(static_cast<int>(row));
    }
    replace(std::move(records));
    for (int row : changed) emit dataChanged(index(row), index(row));
  } else {
    beginResetModel();
    replace(std::move(records));
    endResetModel();
  }
}

void HistoryListModel::replace(std::vector<CaptureRecord> records) {
  records_ = std::move(records);
  rowOfFilename_.clear();
  for (size_t row = 0; row < records_.size(); ++row) {
    rowOfFilename_.insert(QString::fromStdString(records_[row].filename), static_cast<int>(row));
  }
}

int HistoryListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

QVariant HistoryListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const CaptureRecord& record = records_[index.row()];
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(record.filename);
    case Qt::DecorationRole: {
      const QImage thumbnail = thumbnails_.thumbnail(QString::fromStdString(record.filename));
      return thumbnail.isNull() ? QVariant() : QVariant(thumbnail);
    }
    case detailRole:
      return detailLine(record);
    case deliveryRole:
      if (const auto line = deliveryLine(record)) return *line;
      return {};
    case Qt::AccessibleTextRole: {
      QString description =
          QString::fromStdString(record.filename) + QStringLiteral(", ") + detailLine(record);
      if (const auto line = deliveryLine(record)) description += QStringLiteral(", ") + *line;
      return description;
    }
    default:
      return {};
  }
}

QString HistoryListModel::detailLine(const CaptureRecord& record) {
  const QString source =
      record.application ? QString::fromStdString(*record.application) : QStringLiteral("Screen");
  const QDateTime created =
      QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(record.createdAt.unixSeconds() * 1000));
  return source + QStringLiteral(" · ") + QLocale().toString(created, shortDateTimeFormat());
}

std::optional<QString> HistoryListModel::deliveryLine(const CaptureRecord& record) {
  if (!record.destination) return std::nullopt;
  const QString status =
      record.deliveryStatus ? QString::fromStdString(*record.deliveryStatus) : QStringLiteral("Staged");
  return status + QStringLiteral(" · ") + QString::fromStdString(*record.destination);
}

void HistoryListModel::thumbnailArrived(const QString& filename) {
  const auto row = rowOfFilename_.constFind(filename);
  if (row == rowOfFilename_.constEnd()) return;
  emit dataChanged(index(*row), index(*row), {Qt::DecorationRole});
}

}  // namespace lumacap
