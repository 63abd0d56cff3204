#include "app/views/WindowChooser.h"

#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "app/views/Symbols.h"

namespace lumacap {
namespace {

constexpr int chooserRowPadding = 8;   // above and below the row's content
constexpr int tileInset = 10;   // between the list's edges and a highlighted row
constexpr int chooserRowInset = 20;    // before the window symbol and after the camera
constexpr int spacing = 12;     // between the symbol, the texts and the camera
constexpr int chooserLineSpacing = 4;  // between the title and the application
constexpr int symbolSize = 20;
constexpr int cameraSize = 16;

QString titleOf(const ShareableWindow& window) {
  if (!window.title || window.title->empty()) return QStringLiteral("Untitled window");
  return QString::fromStdString(*window.title);
}

QString applicationOf(const ShareableWindow& window) {
  if (!window.owningApplication) return QStringLiteral("Application");
  return QString::fromStdString(window.owningApplication->applicationName);
}

}  // namespace

WindowRowDelegate::WindowRowDelegate(QListView& view)
    : QStyledItemDelegate(&view),
      view_(view),
      titleFont_(look::font(view, 13)),
      captionFont_(look::font(view, 11)),
      window_(symbolIcon(Symbol::window, look::secondary(view))),
      camera_(symbolIcon(Symbol::camera, view.palette().color(QPalette::Text))) {}

int WindowRowDelegate::applicationHeight(const QString& application, int width) const {
  // The application's name is never cut: a long one takes more lines.
  return QFontMetrics(captionFont_)
      .boundingRect(QRect(0, 0, std::max(width, 1), 10'000), Qt::TextWordWrap, application)
      .height();
}

WindowRowDelegate::Layout WindowRowDelegate::layoutIn(const QRect& row, const QString& application) const {
  const QRect content = row.adjusted(chooserRowInset, chooserRowPadding, -chooserRowInset, -chooserRowPadding);
  Layout layout;
  layout.symbol = QRect(0, 0, symbolSize, symbolSize);
  layout.symbol.moveCenter(QPoint(content.left() + symbolSize / 2, content.center().y()));
  layout.camera = QRect(0, 0, cameraSize, cameraSize);
  layout.camera.moveCenter(QPoint(content.right() - cameraSize / 2, content.center().y()));

  const int left = layout.symbol.right() + 1 + spacing;
  const int width = layout.camera.left() - spacing - left;
  const int titleHeight = QFontMetrics(titleFont_).height();
  const int applicationHeight = this->applicationHeight(application, width);
  const int top = content.center().y() - (titleHeight + chooserLineSpacing + applicationHeight) / 2;
  layout.title = QRect(left, top, width, titleHeight);
  layout.application = QRect(left, top + titleHeight + chooserLineSpacing, width, applicationHeight);
  return layout;
}

void WindowRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  // The current row (for the keyboard) and the row under the pointer sit on a quiet tile.
  const bool current = option.state & QStyle::State_Selected;
  if (current || option.state & QStyle::State_MouseOver) {
    QPainterPath tile;
    tile.addRoundedRect(QRectF(option.rect).adjusted(tileInset, 1, -tileInset, -1), 6, 6);
    painter->fillPath(tile, look::primary(view_, current ? 0.09 : 0.05));
  }

  const QString title = index.data(Qt::DisplayRole).toString();
  const QString application = index.data(applicationRole).toString();
  const Layout layout = layoutIn(option.rect, application);
  window_.paint(painter, layout.symbol);
  camera_.paint(painter, layout.camera);

  painter->setFont(titleFont_);
  painter->setPen(option.palette.color(QPalette::Text));
  painter->drawText(layout.title, Qt::AlignLeft | Qt::AlignVCenter,
                    QFontMetrics(titleFont_).elidedText(title, Qt::ElideRight, layout.title.width()));
  painter->setFont(captionFont_);
  painter->setPen(look::secondary(view_));
  painter->drawText(layout.application, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, application);
  painter->restore();
}

QSize WindowRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
  const int width = view_.viewport()->width();
  const int textWidth = width - 2 * chooserRowInset - symbolSize - cameraSize - 2 * spacing;
  const int texts = QFontMetrics(titleFont_).height() + chooserLineSpacing +
                    applicationHeight(index.data(applicationRole).toString(), textWidth);
  return QSize(width, std::max(symbolSize, texts) + 2 * chooserRowPadding);
}

WindowChooser::WindowChooser(Capture capture, bool compositing, QWidget* parent)
    : QWidget(parent), capture_(std::move(capture)) {
  auto* heading = new QLabel(QStringLiteral("Choose a window"), this);
  heading->setFont(look::font(*this, 17, QFont::Bold));
  heading->setContentsMargins(20, 20, 20, 0);
  // Without a compositor only what shows on the screen can be read.
  auto* note = new QLabel(compositing ? QStringLiteral("Only the selected window will be captured.")
                                      : QStringLiteral("The selected window is brought to the front and "
                                                       "captured as it shows there."),
                          this);
  note->setWordWrap(true);
  note->setFont(look::font(*this, 13));
  note->setContentsMargins(20, 0, 20, 0);
  look::setTextColor(*note, look::secondary(*this));

  placeholder_ = makePlaceholder();

  list_ = new QListWidget(this);
  list_->setFrameShape(QFrame::NoFrame);
  list_->setResizeMode(QListView::Adjust);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  list_->setItemDelegate(new WindowRowDelegate(*list_));
  list_->setMouseTracking(true);
  list_->viewport()->setAttribute(Qt::WA_Hover);
  list_->viewport()->setCursor(Qt::PointingHandCursor);
  list_->setAccessibleName(QStringLiteral("Windows"));
  QPalette palette = list_->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  list_->setPalette(palette);
  list_->installEventFilter(this);
  connect(list_, &QListWidget::clicked, this, [this](const QModelIndex& index) { choose(index.row()); });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 10);
  layout->setSpacing(10);
  layout->addWidget(heading);
  layout->addWidget(note);
  layout->addWidget(placeholder_, 1);
  layout->addWidget(list_, 1);
  setWindows({});
}

WindowChooser::~WindowChooser() = default;

QWidget* WindowChooser::makePlaceholder() {
  return look::contentUnavailable(this, Symbol::window, QStringLiteral("No windows available"));
}

void WindowChooser::setWindows(std::vector<ShareableWindow> windows) {
  windows_ = std::move(windows);
  list_->clear();
  for (const ShareableWindow& window : windows_) {
    auto* item = new QListWidgetItem(titleOf(window), list_);
    item->setData(WindowRowDelegate::applicationRole, applicationOf(window));
    item->setToolTip(titleOf(window));
  }
  if (!windows_.empty()) list_->setCurrentRow(0);
  placeholder_->setVisible(windows_.empty());
  list_->setVisible(!windows_.empty());
}

void WindowChooser::choose(int row) {
  if (row < 0 || row >= static_cast<int>(windows_.size())) return;
  // A copy: the callback may hand us new windows while it runs.
  const ShareableWindow window = windows_[static_cast<size_t>(row)];
  capture_(window);
}

bool WindowChooser::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      choose(list_->currentRow());
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void WindowChooser::showEvent(QShowEvent* event) {
  list_->setFocus();
  QWidget::showEvent(event);
}

}  // namespace lumacap
