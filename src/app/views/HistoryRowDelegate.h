#pragma once

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

namespace lumacap {

// Paints one saved capture of the Recent Captures list: its thumbnail, its
// name and details, an "Open" button and a "…" menu button. The buttons are
// painted, not widgets, so that a list of a thousand captures costs no more
// than the rows on screen.
class HistoryRowDelegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  enum class Part { none, openButton, menuButton };

  // `styleSource` gives the fonts and colours.
  explicit HistoryRowDelegate(const QWidget& styleSource, QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // Where the parts of a row painted in `row` lie.
  QRect thumbnailRect(const QRect& row) const;
  QRect openButtonRect(const QRect& row) const;
  QRect menuButtonRect(const QRect& row) const;
  Part partAt(const QRect& row, const QPoint& point) const;

 signals:
  void openClicked(const QModelIndex& index);
  // `button` is the menu button's rectangle, in the list's viewport.
  void menuClicked(const QModelIndex& index, const QRect& button);

 protected:
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

 private:
  void paintBackground(QPainter& painter, const QStyleOptionViewItem& option, const QRect& row) const;
  void paintThumbnail(QPainter& painter, const QRect& area, const QModelIndex& index) const;
  void paintText(QPainter& painter, const QRect& area, const QModelIndex& index) const;
  void paintOpenButton(QPainter& painter, const QStyleOptionViewItem& option, const QRect& button,
                       Part pointed) const;
  void paintMenuButton(QPainter& painter, const QRect& button, Part pointed) const;

  const QWidget& styleSource_;
  QFont nameFont_;
  QFont detailFont_;
  QFont deliveryFont_;
  QIcon placeholder_;
  QIcon ellipsis_;
  QPersistentModelIndex pressedRow_;
  Part pressedPart_ = Part::none;
};

}  // namespace lumacap
