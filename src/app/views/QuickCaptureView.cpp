#include "app/views/QuickCaptureView.h"

#include <algorithm>
#include <climits>
#include <numeric>
#include <vector>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/model/AppModel.h"
#include "app/views/PinWindow.h"
#include "app/views/Symbols.h"

namespace lumacap {
namespace {

constexpr QSize cardSize(304, 104);

QToolButton* textButton(const QString& title, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setText(title);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setCursor(Qt::PointingHandCursor);
  return button;
}

// "Copied" only once the clipboard holds the image.
QString clipboardTitle(AppModel::ClipboardState state) {
  switch (state) {
    case AppModel::ClipboardState::copying:
      return QStringLiteral("Copying…");
    case AppModel::ClipboardState::copied:
      return QStringLiteral("Copied");
    case AppModel::ClipboardState::checking:
      return QStringLiteral("Checking for secrets…");
    case AppModel::ClipboardState::notCopied:
      break;
  }
  return QStringLiteral("Not copied");
}

}  // namespace

QToolButton* makeSecretsNotice(AppModel& model, const QWidget& style) {
  auto* notice = new QToolButton;
  notice->setAutoRaise(true);
  notice->setFocusPolicy(Qt::NoFocus);
  notice->setCursor(Qt::PointingHandCursor);
  notice->setFont(look::font(style, 11, QFont::Medium));
  notice->setToolTip(QStringLiteral("Black out what looks like keys, tokens and passwords (Ctrl+Shift+X)"));
  notice->setStyleSheet(QStringLiteral("QToolButton { padding: 0; border: none; }"));
  look::setTextColor(*notice, look::warning({style.palette().color(QPalette::Window)}));
  notice->hide();
  QObject::connect(notice, &QToolButton::clicked, &model, &AppModel::redactSecrets);
  return notice;
}

ImageTile::ImageTile(int cornerRadius, double fill, double outline, QWidget* parent)
    : QAbstractButton(parent), cornerRadius_(cornerRadius), fill_(fill), outline_(outline) {
  setFocusPolicy(Qt::NoFocus);
}

void ImageTile::setImage(const QImage& image) {
  image_ = image;
  update();
}

void ImageTile::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  QPainterPath tile;
  tile.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
  painter.setClipPath(tile);
  painter.fillPath(tile, look::primary(*this, fill_));
  if (!image_.isNull()) {
    const QRectF area = QRectF(rect()).adjusted(3, 3, -3, -3);
    painter.drawImage(look::letterboxed(QSizeF(image_.size()), area), image_);
  }
  if (outline_ > 0) {
    painter.setClipping(false);
    painter.setPen(QPen(look::primary(*this, outline_), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius_, cornerRadius_);
  }
}

// Room for the title between its symbol and the dismiss button.
constexpr int headerWidth = 150;
// Lines of text under the title: the hint's, and the notice's when it shows.
constexpr int textLines = 3;

QuickCaptureView::QuickCaptureView(AppModel& model, bool rounded, QWidget* parent)
    : QWidget(parent), model_(model), rounded_(rounded) {
  setFixedSize(cardSize);
  setAttribute(Qt::WA_Hover);

  thumbnail_ = new ImageTile(8, 0.05, 0, this);
  thumbnail_->setFixedSize(78, 72);
  thumbnail_->setCursor(Qt::PointingHandCursor);
  thumbnail_->setAccessibleName(QStringLiteral("Open capture details"));
  connect(thumbnail_, &QAbstractButton::clicked, &model_, &AppModel::showPreview);

  headerIcon_ = new QLabel(this);
  header_ = new QLabel(this);
  header_->setFont(look::font(*this, 12, QFont::DemiBold));
  dismiss_ = new QToolButton(this);
  dismiss_->setAutoRaise(true);
  dismiss_->setFocusPolicy(Qt::NoFocus);
  dismiss_->setIconSize(QSize(10, 10));
  dismiss_->setIcon(symbolIcon(Symbol::xmark, look::secondary(*this)));
  dismiss_->setAccessibleName(QStringLiteral("Dismiss thumbnail"));
  connect(dismiss_, &QToolButton::clicked, &model_, &AppModel::hideQuickCapture);

  hint_ = new QLabel(this);
  hint_->setFont(look::font(*this, 11));
  hint_->setWordWrap(true);
  hint_->setAlignment(Qt::AlignLeading | Qt::AlignTop);

  secretsNotice_ = makeSecretsNotice(model_, *this);
  secretsNotice_->setParent(this);
  secretsNotice_->setFixedHeight(secretsNotice_->fontMetrics().lineSpacing());  // one line, as the hint's

  edit_ = textButton(QStringLiteral("Edit"), this);
  connect(edit_, &QToolButton::clicked, &model_, &AppModel::showPreview);
  save_ = textButton(QStringLiteral("Save"), this);
  connect(save_, &QToolButton::clicked, &model_, [this] { model_.save(); });
  pin_ = textButton(QStringLiteral("Pin"), this);
  pin_->setToolTip(QStringLiteral("Pin to Screen: keep the capture above your windows"));
  connect(pin_, &QToolButton::clicked, this, [this] { PinWindow::pin(model_.image(), screen()); });
  for (QToolButton* button : {edit_, save_, pin_}) {
    button->setFont(look::font(*this, 11, QFont::Medium));
    look::setTextColor(*button, look::secondary(*this));
  }

  auto* headerRow = new QHBoxLayout;
  headerRow->setSpacing(4);
  headerRow->addWidget(headerIcon_);
  headerRow->addWidget(header_);
  headerRow->addStretch();
  headerRow->addWidget(dismiss_);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->setSpacing(12);
  buttonRow->addWidget(edit_);
  buttonRow->addWidget(save_);
  buttonRow->addWidget(pin_);
  buttonRow->addStretch();
  auto* details = new QVBoxLayout;
  details->setSpacing(3);
  details->addLayout(headerRow);
  details->addWidget(hint_);
  details->addWidget(secretsNotice_, 0, Qt::AlignLeading | Qt::AlignTop);
  details->addStretch(1);
  details->addLayout(buttonRow);
  auto* card = new QHBoxLayout(this);
  card->setContentsMargins(14, 9, 14, 9);
  card->setSpacing(12);
  card->addWidget(thumbnail_, 0, Qt::AlignVCenter);
  card->addLayout(details, 1);

  for (auto signal : {&AppModel::imageChanged, &AppModel::savedIDChanged, &AppModel::errorChanged,
                      &AppModel::pasteHintChanged, &AppModel::filenameChanged, &AppModel::secretsChanged,
                      &AppModel::clipboardStateChanged}) {
    connect(&model_, signal, this, &QuickCaptureView::render);
  }
  render();
}

void QuickCaptureView::render() {
  thumbnail_->setImage(model_.image());
  const bool saved = model_.savedID().has_value();
  header_->setText(header_->fontMetrics().elidedText(title(model_), Qt::ElideMiddle, headerWidth));
  header_->setToolTip(saved ? model_.filename() : QString());
  const bool offClipboard = !saved && model_.clipboardState() != AppModel::ClipboardState::copied;
  headerIcon_->setPixmap(offClipboard
                             ? QPixmap()
                             : symbolIcon(Symbol::checkmarkCircle, palette().color(QPalette::WindowText))
                                   .pixmap(QSize(12, 12), devicePixelRatioF()));
  save_->setText(saved ? QStringLiteral("Saved") : QStringLiteral("Save"));
  save_->setEnabled(!saved);

  // The notice of possible secrets shows whole under the hint (an error
  // instead of the hint takes its place); the hint gets the lines left, its
  // whole phrases, and the full text in its tooltip.
  const auto& error = model_.error();
  const QString notice = error ? QString() : model_.secretsNotice();
  secretsNotice_->setText(notice);
  secretsNotice_->setVisible(!notice.isEmpty());
  const int hintLines = notice.isEmpty() ? textLines : textLines - 1;
  hint_->setFixedHeight(hintLines * hint_->fontMetrics().lineSpacing());
  const QString text = hintText(model_);
  if (layout()) layout()->activate();
  hint_->setText(fitted(text, hint_->fontMetrics(), hint_->contentsRect().width(), hintLines));
  hint_->setToolTip(hint_->text() == text ? QString() : text);
  // Orange text reads at 4.5:1 on the card, whatever shows through its translucency.
  const QColor background = palette().color(QPalette::Window);
  const QColor overBlack =
      QColor::fromRgbF(background.redF() * 0.96f, background.greenF() * 0.96f, background.blueF() * 0.96f);
  const QColor overWhite =
      QColor::fromRgbF(background.redF() * 0.96f + 0.04f, background.greenF() * 0.96f + 0.04f,
                       background.blueF() * 0.96f + 0.04f);
  const QColor warning = rounded_ ? look::warning({overBlack, overWhite}) : look::warning({background});
  look::setTextColor(*secretsNotice_, warning);
  const bool refused = model_.clipboardState() == AppModel::ClipboardState::notCopied;
  look::setTextColor(*hint_, error || refused ? warning : look::secondary(*this));
  emit rendered();
}

// Once saved, the card names the file the capture was stored as.
QString QuickCaptureView::title(const AppModel& model) {
  return model.savedID() ? model.filename() : clipboardTitle(model.clipboardState());
}

QString QuickCaptureView::hintText(const AppModel& model) {
  return model.error() ? *model.error() : model.pasteHint();
}

bool QuickCaptureView::clickAt(QPoint position) {
  for (QWidget* widget = childAt(position); widget && widget != this; widget = widget->parentWidget()) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      if (!button->isEnabled()) return false;
      button->click();
      return true;
    }
  }
  return false;
}

QString QuickCaptureView::fitted(const QString& text, const QFontMetrics& metrics, int width, int lines) {
  const auto fits = [&](const QString& candidate) {
    const QRect bounds = metrics.boundingRect(QRect(0, 0, width, INT_MAX), Qt::TextWordWrap, candidate);
    return bounds.height() <= lines * metrics.lineSpacing() && bounds.width() <= width;
  };
  if (width <= 0 || fits(text)) return text;
  // Whole phrases go first, from the one before the last backwards: the first
  // (what happened) and the last (the key to press) stay.
  const QString dot = QStringLiteral(" · ");
  const QString gap = QStringLiteral("…");
  const QStringList phrases = text.split(dot);
  for (qsizetype dropped = 1; dropped < phrases.size(); ++dropped) {
    const QString candidate =
        (phrases.first(phrases.size() - 1 - dropped) << gap << phrases.last()).join(dot);
    if (fits(candidate)) return candidate;
  }
  // Then whole words, the widest first (a path in an error), each gone
  // for "…": the words around them, an error's cause, stay.
  const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  std::vector<qsizetype> widest(static_cast<size_t>(words.size()));
  std::iota(widest.begin(), widest.end(), 0);
  std::stable_sort(widest.begin(), widest.end(), [&](qsizetype a, qsizetype b) {
    return metrics.horizontalAdvance(words[a]) > metrics.horizontalAdvance(words[b]);
  });
  std::vector<bool> dropped(widest.size(), false);
  QString candidate;
  for (const qsizetype index : widest) {
    dropped[static_cast<size_t>(index)] = true;
    QStringList kept;
    for (qsizetype word = 0; word < words.size(); ++word) {
      if (!dropped[static_cast<size_t>(word)]) {
        kept << words[word];
      } else if (kept.isEmpty() || kept.last() != gap) {
        kept << gap;
      }
    }
    candidate = kept.join(QLatin1Char(' '));
    if (fits(candidate)) break;
  }
  return candidate;
}

void QuickCaptureView::enterEvent(QEnterEvent* event) {
  model_.setQuickCaptureHovered(true);
  QWidget::enterEvent(event);
}

void QuickCaptureView::leaveEvent(QEvent* event) {
  model_.setQuickCaptureHovered(false);
  QWidget::leaveEvent(event);
}

void QuickCaptureView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const qreal radius = rounded_ ? 16 : 0;
  QColor background = palette().color(QPalette::Window);
  if (rounded_) background.setAlphaF(0.96f);
  painter.setPen(QPen(look::primary(*this, 0.09), 1));
  painter.setBrush(background);
  painter.drawRoundedRect(bounds, radius, radius);
}

CaptureReceiptPanel::CaptureReceiptPanel(AppModel& model, bool translucent)
    : QWidget(nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_X11NetWmWindowTypeNotification);
  if (translucent) setAttribute(Qt::WA_TranslucentBackground);
  setWindowTitle(QStringLiteral("Capture copied"));
  setAccessibleName(QStringLiteral("Capture copied"));
  view_ = new QuickCaptureView(model, translucent, this);
  setFixedSize(view_->size());
}

}  // namespace lumacap
