#include "app/views/HistoryRowDelegate.h"

#include <QAbstractItemView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>

#include "app/views/HistoryListModel.h"
#include "app/views/Symbols.h"

namespace lumacap {
namespace {

constexpr int rowHeight = 76;
constexpr QSize thumbnailSize(84, 56);
constexpr int thumbnailRadius = 7;
constexpr int rowInset = 8;     // the row's rounded background inside the list
constexpr int rowPadding = 12;  // the contents inside that background
constexpr int lineSpacing = 5;
constexpr QSize menuButtonSize(25, 24);
constexpr int openButtonHeight = 26;

const QString openTitle = QStringLiteral("Open");

QRect background(const QRect& row) { return row.adjusted(rowInset, 2, -rowInset, -2); }

QColor withAlpha(QColor color, double alpha) {
  color.setAlphaF(static_cast<float>(alpha));
  return color;
}

}  // namespace

HistoryRowDelegate::HistoryRowDelegate(const QWidget& styleSource, QObject* parent)
    : QStyledItemDelegate(parent),
      styleSource_(styleSource),
      nameFont_(look::font(styleSource, 13, QFont::DemiBold)),
      detailFont_(look::font(styleSource, 11)),
      deliveryFont_(look::font(styleSource, 10)),
      placeholder_(symbolIcon(Symbol::photo, look::secondary(styleSource))),
      ellipsis_(symbolIcon(Symbol::ellipsis, look::secondary(styleSource))) {}

QSize HistoryRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  return {thumbnailSize.width() + 2 * (rowInset + rowPadding), rowHeight};
}

QRect HistoryRowDelegate::thumbnailRect(const QRect& row) const {
  const QRect box = background(row);
  return QRect(QPoint(box.left() + rowPadding, box.center().y() - thumbnailSize.height() / 2 + 1),
               thumbnailSize);
}

QRect HistoryRowDelegate::menuButtonRect(const QRect& row) const {
  const QRect box = background(row);
  return QRect(QPoint(box.right() - rowPadding + 4 - menuButtonSize.width(),
                      box.center().y() - menuButtonSize.height() / 2 + 1),
               menuButtonSize);
}

QRect HistoryRowDelegate::openButtonRect(const QRect& row) const {
  const int width = std::max(64, QFontMetrics(styleSource_.font()).horizontalAdvance(openTitle) + 28);
  const QRect menu = menuButtonRect(row);
  return QRect(QPoint(menu.left() - 6 - width, row.center().y() - openButtonHeight / 2 + 1),
               QSize(width, openButtonHeight));
}

HistoryRowDelegate::Part HistoryRowDelegate::partAt(const QRect& row, const QPoint& point) const {
  if (openButtonRect(row).contains(point)) return Part::openButton;
  if (menuButtonRect(row).contains(point)) return Part::menuButton;
  return Part::none;
}

void HistoryRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  const QRect row = option.rect;
  paintBackground(*painter, option, row);

  Part pointed = Part::none;
  const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
  if (view && (option.state & QStyle::State_MouseOver)) {
    pointed = partAt(row, view->viewport()->mapFromGlobal(QCursor::pos()));
  }

  const QRect thumbnail = thumbnailRect(row);
  const QRect open = openButtonRect(row);
  paintThumbnail(*painter, thumbnail, index);
  const int textLeft = thumbnail.right() + 15;
  paintText(*painter, QRect(QPoint(textLeft, row.top()), QPoint(open.left() - 16, row.bottom())), index);
  paintOpenButton(*painter, option, open, pointed);
  paintMenuButton(*painter, menuButtonRect(row), pointed);
  painter->restore();
}

void HistoryRowDelegate::paintBackground(QPainter& painter, const QStyleOptionViewItem& option,
                                         const QRect& row) const {
  const QRectF box = QRectF(background(row)).adjusted(0.5, 0.5, -0.5, -0.5);
  QColor fill;
  if (option.state & QStyle::State_Selected) {
    // Every selected row alike, so that a selection of several shows as one.
    fill = (option.state & QStyle::State_Active) ? withAlpha(option.palette.color(QPalette::Highlight), 0.18)
                                                 : look::primary(styleSource_, 0.07);
  } else if (option.state & QStyle::State_MouseOver) {
    fill = look::primary(styleSource_, 0.035);
  }
  if (fill.isValid()) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(box, 8, 8);
  }
}

void HistoryRowDelegate::paintThumbnail(QPainter& painter, const QRect& area,
                                        const QModelIndex& index) const {
  QPainterPath tile;
  tile.addRoundedRect(QRectF(area), thumbnailRadius, thumbnailRadius);
  painter.save();
  painter.setClipPath(tile);
  painter.fillPath(tile, look::primary(styleSource_, 0.04));
  const QImage image = index.data(Qt::DecorationRole).value<QImage>();
  if (image.isNull()) {
    const QSize symbol(22, 22);
    placeholder_.paint(&painter, QRect(area.center() - QPoint(symbol.width(), symbol.height()) / 2, symbol));
  } else {
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(look::letterboxed(QSizeF(image.size()), QRectF(area)), image);
  }
  painter.restore();
  // A faint edge keeps white screenshots apart from the white list.
  painter.setPen(QPen(look::primary(styleSource_, 0.08), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5), thumbnailRadius, thumbnailRadius);
}

void HistoryRowDelegate::paintText(QPainter& painter, const QRect& area, const QModelIndex& index) const {
  const QString name = index.data(Qt::DisplayRole).toString();
  const QString detail = index.data(HistoryListModel::detailRole).toString();
  const QVariant delivery = index.data(HistoryListModel::deliveryRole);

  const QFontMetrics nameMetrics(nameFont_);
  const QFontMetrics detailMetrics(detailFont_);
  const QFontMetrics deliveryMetrics(deliveryFont_);
  int height = nameMetrics.height() + lineSpacing + detailMetrics.height();
  if (delivery.isValid()) height += lineSpacing + deliveryMetrics.height();

  const QColor primary = styleSource_.palette().color(QPalette::Text);
  const QColor secondary = withAlpha(primary, 0.6);
  int top = area.center().y() - height / 2 + 1;
  auto line = [&](const QString& text, const QFont& font, const QFontMetrics& metrics, const QColor& color,
                  Qt::TextElideMode elide) {
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRect(area.left(), top, area.width(), metrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(text, elide, area.width()));
    top += metrics.height() + lineSpacing;
  };
  // The middle of a long name goes, so that its end and ".png" stay.
  line(name, nameFont_, nameMetrics, primary, Qt::ElideMiddle);
  line(detail, detailFont_, detailMetrics, secondary, Qt::ElideRight);
  if (delivery.isValid())
    line(delivery.toString(), deliveryFont_, deliveryMetrics, secondary, Qt::ElideRight);
}

void HistoryRowDelegate::paintOpenButton(QPainter& painter, const QStyleOptionViewItem& option,
                                         const QRect& button, Part pointed) const {
  QStyleOptionButton style;
  style.rect = button;
  style.text = openTitle;
  style.palette = styleSource_.palette();
  style.fontMetrics = QFontMetrics(styleSource_.font());
  style.direction = option.direction;
  style.state = QStyle::State_Enabled | QStyle::State_Raised;
  if (option.state & QStyle::State_Active) style.state |= QStyle::State_Active;
  if (pointed == Part::openButton) {
    style.state |= QStyle::State_MouseOver;
    if (pressedPart_ == Part::openButton && pressedRow_ == option.index) style.state |= QStyle::State_Sunken;
  }
  painter.setFont(styleSource_.font());
  const QWidget* widget = option.widget;
  (widget ? widget->style() : styleSource_.style())
      ->drawControl(QStyle::CE_PushButton, &style, &painter, widget);
}

void HistoryRowDelegate::paintMenuButton(QPainter& painter, const QRect& button, Part pointed) const {
  if (pointed == Part::menuButton) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(look::primary(styleSource_, 0.08));
    painter.drawRoundedRect(QRectF(button), 6, 6);
  }
  const QSize symbol(16, 16);
  ellipsis_.paint(
      &painter, QRect(button.center() - QPoint(symbol.width(), symbol.height()) / 2 + QPoint(1, 1), symbol));
}

bool HistoryRowDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) {
  const auto type = event->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
      type != QEvent::MouseButtonDblClick) {
    return false;
  }
  const auto* mouse = static_cast<QMouseEvent*>(event);
  if (mouse->button() != Qt::LeftButton) return false;
  const Part part = partAt(option.rect, mouse->position().toPoint());
  auto repaint = [&] {
    if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget)) {
      view->viewport()->update(option.rect);
    }
  };

  if (type == QEvent::MouseButtonDblClick) {
    // Two quick clicks on a button are two clicks, not a double click on the row.
    return part != Part::none;
  }
  if (type == QEvent::MouseButtonPress) {
    pressedRow_ = index;
    pressedPart_ = part;
    if (part == Part::menuButton) {
      // Menus open on the press, like a menu button's.
      pressedPart_ = Part::none;
      emit menuClicked(index, menuButtonRect(option.rect));
      return true;
    }
    if (part == Part::openButton) repaint();
    return false;  // the row is selected as well
  }

  const Part pressed = pressedRow_ == index ? pressedPart_ : Part::none;
  pressedPart_ = Part::none;
  pressedRow_ = QPersistentModelIndex();
  if (pressed == Part::none) return false;
  repaint();
  if (part == pressed) emit openClicked(index);
  return true;
}

}  // namespace lumacap
