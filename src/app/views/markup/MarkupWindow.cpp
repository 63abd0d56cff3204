#include "app/views/markup/MarkupWindow.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>
#include <cmath>

#include "app/views/PinWindow.h"
#include "app/views/Symbols.h"

namespace lumacap {
namespace {

constexpr double iconSize = 20;
constexpr int canvasPadding = 16;     // around the image inside the scrolled area
constexpr double largestShare = 0.8;  // of the screen's free area the window may take
constexpr double pointerReach = 6;    // screen pixels around an item that still hit it
constexpr double handleSize = 9;      // screen pixels
constexpr double smallestMark = 4;    // image pixels: a shorter drag is a click

struct ToolEntry {
  MarkupKind kind;
  const char* label;
  const char* name;
  Qt::Key key;
  const char* more = "";  // said in the tool tip after the key
};

constexpr std::array<ToolEntry, 11> toolEntries{{
    {MarkupKind::arrow, "Arrow", "Arrow", Qt::Key_A},
    {MarkupKind::line, "Line", "Line", Qt::Key_L},
    {MarkupKind::pen, "Pen", "Pen (freehand)", Qt::Key_P},
    {MarkupKind::rectangle, "Box", "Rectangle", Qt::Key_R},
    {MarkupKind::ellipse, "Ellipse", "Ellipse", Qt::Key_E},
    {MarkupKind::highlighter, "Highlight", "Highlighter", Qt::Key_H},
    {MarkupKind::text, "Text", "Text", Qt::Key_T},
    {MarkupKind::step, "Step", "Numbered step", Qt::Key_N},
    {MarkupKind::pixelate, "Pixelate", "Pixelate", Qt::Key_B,
     "\nPixelated text can sometimes be read back: use Redact to hide a secret.\n"
     "Secrets Lumacap finds are always covered with an opaque box."},
    {MarkupKind::redact, "Redact", "Redact (opaque box)", Qt::Key_X},
    {MarkupKind::crop, "Crop", "Crop", Qt::Key_C},
}};

constexpr std::array<const char*, 3> weightNames{"Thin", "Medium", "Thick"};

// A pictogram drawn in `colour` on a 20-point square, sharp at twice the density.
template <typename Draw>
QIcon drawnIcon(const QColor& colour, Draw draw) {
  constexpr qreal density = 2;
  QPixmap pixmap(QSize(iconSize, iconSize) * density);
  pixmap.setDevicePixelRatio(density);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(colour, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  draw(painter, colour);
  return QIcon(pixmap);
}

QIcon toolIcon(MarkupKind kind, const QColor& ink) {
  return drawnIcon(ink, [kind](QPainter& painter, const QColor& colour) {
    switch (kind) {
      case MarkupKind::arrow:
        painter.drawLine(QPointF(4, 16), QPointF(15, 5));
        painter.drawPolyline(QPolygonF{QPointF(8.5, 5), QPointF(15, 5), QPointF(15, 11.5)});
        break;
      case MarkupKind::line:
        painter.drawLine(QPointF(4, 16), QPointF(16, 4));
        break;
      case MarkupKind::pen: {
        QPainterPath squiggle(QPointF(3, 14));
        squiggle.cubicTo(6, 4, 9, 4, 10, 10);
        squiggle.cubicTo(11, 16, 15, 16, 17, 6);
        painter.drawPath(squiggle);
        break;
      }
      case MarkupKind::rectangle:
        painter.drawRoundedRect(QRectF(3, 5, 14, 10), 1.5, 1.5);
        break;
      case MarkupKind::ellipse:
        painter.drawEllipse(QRectF(2.5, 5, 15, 10));
        break;
      case MarkupKind::pixelate:
        for (int cell = 0; cell < 9; ++cell) {
          QColor shade = colour;
          shade.setAlphaF((cell * 5 % 9 + 2) / 11.0f);
          painter.fillRect(QRectF(3 + (cell % 3) * 4.7, 3 + (cell / 3) * 4.7, 4.5, 4.5), shade);
        }
        break;
      case MarkupKind::highlighter: {
        QColor marker = colour;
        marker.setAlphaF(0.35f);
        painter.fillRect(QRectF(2.5, 7, 15, 6), marker);
        painter.drawLine(QPointF(4, 10), QPointF(16, 10));
        painter.drawLine(QPointF(4, 16), QPointF(12, 16));
        painter.drawLine(QPointF(4, 4), QPointF(14, 4));
        break;
      }
      case MarkupKind::text: {
        QFont font;
        font.setPixelSize(17);
        font.setWeight(QFont::Bold);
        painter.setFont(font);
        painter.drawText(QRectF(0, 0, iconSize, iconSize), Qt::AlignCenter, QStringLiteral("T"));
        break;
      }
      case MarkupKind::step: {
        painter.setBrush(colour);
        painter.drawEllipse(QRectF(2.5, 2.5, 15, 15));
        QFont font;
        font.setPixelSize(11);
        font.setWeight(QFont::Bold);
        painter.setFont(font);
        painter.setPen(colour.lightnessF() > 0.5 ? Qt::black : Qt::white);
        painter.drawText(QRectF(2.5, 2.5, 15, 15), Qt::AlignCenter, QStringLiteral("1"));
        break;
      }
      case MarkupKind::redact:
        painter.setBrush(colour);
        painter.drawRoundedRect(QRectF(3, 6, 14, 8), 1, 1);
        break;
      case MarkupKind::crop:
        painter.drawPolyline(QPolygonF{QPointF(6, 2.5), QPointF(6, 14), QPointF(17.5, 14)});
        painter.drawPolyline(QPolygonF{QPointF(2.5, 6), QPointF(14, 6), QPointF(14, 17.5)});
        break;
    }
  });
}

QIcon swatchIcon(const QColor& colour, const QColor& ink) {
  return drawnIcon(ink, [colour, ink](QPainter& painter, const QColor&) {
    QColor rim = ink;
    rim.setAlphaF(0.35f);
    painter.setPen(QPen(rim, 1));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(3.5, 3.5, 13, 13));
  });
}

QIcon weightIcon(int weight, const QColor& ink) {
  return drawnIcon(ink, [weight](QPainter& painter, const QColor& colour) {
    painter.setPen(
        QPen(colour, std::array{1.5, 3.0, 5.0}[static_cast<size_t>(weight)], Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(4, 10), QPointF(16, 10));
  });
}

// A curved arrow turning left (undo), or its mirror image (redo).
QIcon historyIcon(bool redo, const QColor& ink) {
  return drawnIcon(ink, [redo](QPainter& painter, const QColor&) {
    if (redo) painter.setTransform(QTransform(-1, 0, 0, 1, iconSize, 0));
    QPainterPath path;
    path.moveTo(5, 8);
    path.lineTo(12, 8);
    path.cubicTo(15.5, 8, 17, 10.5, 17, 12.5);
    path.cubicTo(17, 14.5, 15.5, 16, 12, 16);
    path.lineTo(9, 16);
    painter.drawPath(path);
    painter.drawPolyline(QPolygonF{QPointF(8, 4.5), QPointF(4.5, 8), QPointF(8, 11.5)});
  });
}

QToolButton* barButton(QWidget* parent, const QIcon& icon, const QString& tip) {
  auto* button = new QToolButton(parent);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setIcon(icon);
  button->setIconSize(QSize(iconSize, iconSize));
  button->setToolTip(tip);
  button->setAccessibleName(tip);
  return button;
}

QFrame* separator(QWidget* parent) {
  auto* rule = new QFrame(parent);
  rule->setFrameShape(QFrame::VLine);
  rule->setFrameShadow(QFrame::Plain);
  rule->setFixedWidth(1);
  look::setTextColor(*rule, look::primary(*parent, 0.15));
  return rule;
}

bool confirmsMarkup(const QKeyEvent& key) {
  return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
}

}  // namespace

// The canvas.

MarkupCanvas::MarkupCanvas(MarkupWindow& window) : QWidget(&window), window_(window) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::CrossCursor);
  setAccessibleName(QStringLiteral("Capture being marked up"));
}

void MarkupCanvas::setZoom(double zoom) {
  zoom_ = zoom;
  const QSizeF shown = QSizeF(window_.image().size()) * zoom_ / devicePixelRatioF();
  setFixedSize(std::max(1, qRound(shown.width())), std::max(1, qRound(shown.height())));
  update();
}

QPointF MarkupCanvas::toImage(QPointF widgetPoint) const { return widgetPoint * devicePixelRatioF() / zoom_; }
QPointF MarkupCanvas::toWidget(QPointF imagePoint) const { return imagePoint * zoom_ / devicePixelRatioF(); }

void MarkupCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QImage& image = window_.image();
  const QSize pixels = size() * devicePixelRatioF();
  if (shown_.size() != pixels || shownKey_ != image.cacheKey()) {
    shown_ = QPixmap::fromImage(pixels == image.size()
                                    ? image
                                    : image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    shown_.setDevicePixelRatio(devicePixelRatioF());
    shownKey_ = image.cacheKey();
  }
  painter.drawPixmap(QPointF(0, 0), shown_);
  const double scale = zoom_ / devicePixelRatioF();
  painter.scale(scale, scale);
  const MarkupModel& model = window_.model();
  model.paint(painter, image);
  const QRectF imageArea(QPointF(0, 0), QSizeF(window_.image().size()));
  paintCrop(painter, imageArea);
  paintSelection(painter);
}

// Outside the crop is dimmed: it stays editable until the mark-up is applied.
void MarkupCanvas::paintCrop(QPainter& painter, const QRectF& imageArea) {
  const QRectF crop = window_.model().cropArea();
  if (crop == imageArea) return;
  QPainterPath outside;
  outside.addRect(imageArea);
  outside.addRect(crop);
  painter.fillPath(outside, QColor(0, 0, 0, 130));
  QPen edge(Qt::white, 1.5 / painter.transform().m11(), Qt::DashLine);
  painter.setPen(edge);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(crop);
}

void MarkupCanvas::paintSelection(QPainter& painter) {
  const MarkupModel& model = window_.model();
  const std::optional<size_t> selected = model.selected();
  if (!selected) return;
  const MarkupItem& item = model.items()[*selected];
  const double pixel = 1 / painter.transform().m11();
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor accent = palette().color(QPalette::Highlight);
  if (item.kind != MarkupKind::arrow && item.kind != MarkupKind::line) {
    painter.setPen(QPen(accent, pixel, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    const double margin = 3 * pixel + model.strokeWidth(item.weight) / 2;
    painter.drawRect(model.bounds(item).adjusted(-margin, -margin, margin, margin));
  }
  painter.setPen(QPen(accent, 1.5 * pixel));
  painter.setBrush(Qt::white);
  const double side = handleSize * pixel;
  for (const auto& [handle, at] : MarkupModel::handles(item)) {
    painter.drawRect(QRectF(at - QPointF(side / 2, side / 2), QSizeF(side, side)));
  }
}

void MarkupCanvas::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  setFocus();
  MarkupModel& model = window_.model();
  const QPointF at = toImage(event->position());
  const double reach = pointerReach * devicePixelRatioF() / zoom_;
  last_ = at;
  if (const auto selected = model.selected()) {
    if (const auto handle = model.handleAt(*selected, at, reach)) {
      model.beginGesture();
      drag_ = Drag::resizing;
      dragged_ = *selected;
      handle_ = *handle;
      return;
    }
  }
  const std::optional<size_t> hit = model.itemAt(at, reach);
  if (hit && (window_.tool() != MarkupKind::crop || model.items()[*hit].kind == MarkupKind::crop)) {
    model.select(hit);
    model.beginGesture();
    drag_ = Drag::moving;
    dragged_ = *hit;
    window_.changed();
    return;
  }
  model.select(std::nullopt);
  switch (window_.tool()) {
    case MarkupKind::text:
      window_.editText(at);
      break;
    case MarkupKind::step:
      model.select(model.add({MarkupKind::step, at, at, window_.colour(), window_.weight(), {}, {}}));
      break;
    default: {
      model.beginGesture();
      MarkupItem item{window_.tool(), at, at, window_.colour(), window_.weight(), {}, {}};
      if (item.kind == MarkupKind::pen) item.path.push_back(at);
      dragged_ = model.add(std::move(item));
      drag_ = Drag::drawing;
    }
  }
  window_.changed();
}

void MarkupCanvas::mouseMoveEvent(QMouseEvent* event) {
  MarkupModel& model = window_.model();
  QPointF at = toImage(event->position());
  switch (drag_) {
    case Drag::none: {
      const double reach = pointerReach * devicePixelRatioF() / zoom_;
      const auto selected = model.selected();
      if (selected && model.handleAt(*selected, at, reach)) {
        setCursor(Qt::SizeAllCursor);
      } else if (model.itemAt(at, reach) && window_.tool() != MarkupKind::crop) {
        setCursor(Qt::OpenHandCursor);
      } else {
        setCursor(window_.tool() == MarkupKind::text ? Qt::IBeamCursor : Qt::CrossCursor);
      }
      return;
    }
    case Drag::drawing: {
      if (window_.tool() == MarkupKind::crop) {
        at.setX(std::clamp(at.x(), 0.0, double(window_.image().width())));
        at.setY(std::clamp(at.y(), 0.0, double(window_.image().height())));
      }
      MarkupItem item = model.items()[dragged_];
      item.to = at;
      if (item.kind == MarkupKind::pen) item.path.push_back(at);
      model.replace(dragged_, std::move(item));
      break;
    }
    case Drag::moving:
      model.moveBy(dragged_, at - last_);
      break;
    case Drag::resizing:
      model.resize(dragged_, handle_, at);
      break;
  }
  last_ = at;
  update();
}

void MarkupCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || drag_ == Drag::none) return;
  MarkupModel& model = window_.model();
  if (drag_ == Drag::drawing) {
    const MarkupItem& item = model.items()[dragged_];
    const QRectF box = model.bounds(item);
    bool tooSmall = box.width() < smallestMark || box.height() < smallestMark;
    if (item.kind == MarkupKind::arrow || item.kind == MarkupKind::line) {
      tooSmall = QLineF(item.from, item.to).length() < smallestMark;
    } else if (item.kind == MarkupKind::pen) {
      tooSmall = box.width() < smallestMark && box.height() < smallestMark;
    }
    if (tooSmall) {
      model.remove(dragged_);
    } else if (item.kind != MarkupKind::crop) {
      model.select(dragged_);
    }
  }
  model.endGesture();
  drag_ = Drag::none;
  window_.changed();
}

// The window.

MarkupWindow::MarkupWindow(QWidget* parent) : QWidget(parent), colour_(colours().front()) {
  setWindowTitle(QStringLiteral("Mark up — Lumacap"));
  model_ = std::make_unique<MarkupModel>(QSize());

  canvas_ = new MarkupCanvas(*this);
  scroll_ = new QScrollArea(this);
  scroll_->setWidget(canvas_);
  scroll_->setWidgetResizable(false);
  scroll_->setAlignment(Qt::AlignCenter);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setFocusPolicy(Qt::NoFocus);
  QPalette backdrop = scroll_->palette();
  backdrop.setColor(QPalette::Window, palette().color(QPalette::Window).darker(118));
  scroll_->setPalette(backdrop);
  scroll_->setBackgroundRole(QPalette::Window);
  scroll_->viewport()->installEventFilter(this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(makeToolBar());
  layout->addWidget(look::divider(this));
  layout->addWidget(scroll_, 1);
  renderControls();
}

MarkupWindow::~MarkupWindow() = default;

const std::vector<QColor>& MarkupWindow::colours() {
  static const std::vector<QColor> presets{QColor(0xff, 0x3b, 0x30), QColor(0xff, 0xcc, 0x00),
                                           QColor(0x34, 0xc7, 0x59), QColor(0x00, 0x7a, 0xff),
                                           QColor(0x1c, 0x1c, 0x1e), QColor(0xff, 0xff, 0xff)};
  return presets;
}

QWidget* MarkupWindow::makeToolBar() {
  auto* bar = new QWidget(this);
  const QColor ink = palette().color(QPalette::WindowText);
  auto* layout = new QHBoxLayout(bar);
  layout->setContentsMargins(10, 6, 10, 6);
  layout->setSpacing(2);

  tools_ = new QButtonGroup(bar);
  for (const ToolEntry& entry : toolEntries) {
    const QString key = QKeySequence(entry.key).toString();
    auto* button = barButton(
        bar, toolIcon(entry.kind, ink),
        QStringLiteral("%1 (%2)%3").arg(QString::fromUtf8(entry.name), key, QString::fromUtf8(entry.more)));
    button->setText(QString::fromUtf8(entry.label));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setFont(look::font(*this, 11));
    button->setCheckable(true);
    button->setMinimumWidth(54);
    tools_->addButton(button, static_cast<int>(entry.kind));
    layout->addWidget(button);
  }
  connect(tools_, &QButtonGroup::idClicked, this, [this](int id) { setTool(static_cast<MarkupKind>(id)); });

  layout->addSpacing(6);
  layout->addWidget(separator(bar));
  layout->addSpacing(6);
  colourButtons_ = new QButtonGroup(bar);
  const std::array<const char*, 6> colourNames{"Red", "Yellow", "Green", "Blue", "Black", "White"};
  for (size_t index = 0; index < colours().size(); ++index) {
    auto* button = barButton(bar, swatchIcon(colours()[index], ink), QString::fromUtf8(colourNames[index]));
    button->setCheckable(true);
    colourButtons_->addButton(button, static_cast<int>(index));
    layout->addWidget(button);
  }
  connect(colourButtons_, &QButtonGroup::idClicked, this,
          [this](int id) { setColour(colours()[static_cast<size_t>(id)]); });

  layout->addSpacing(6);
  layout->addWidget(separator(bar));
  layout->addSpacing(6);
  weights_ = new QButtonGroup(bar);
  for (int weight = 0; weight < 3; ++weight) {
    auto* button = barButton(bar, weightIcon(weight, ink),
                             QString::fromUtf8(weightNames[static_cast<size_t>(weight)]) + " stroke");
    button->setCheckable(true);
    weights_->addButton(button, weight);
    layout->addWidget(button);
  }
  connect(weights_, &QButtonGroup::idClicked, this, &MarkupWindow::setWeight);

  layout->addSpacing(6);
  layout->addWidget(separator(bar));
  layout->addSpacing(6);
  undo_ = barButton(bar, historyIcon(false, ink), QStringLiteral("Undo (Ctrl+Z)"));
  redo_ = barButton(bar, historyIcon(true, ink), QStringLiteral("Redo (Ctrl+Shift+Z)"));
  connect(undo_, &QToolButton::clicked, this, &MarkupWindow::undo);
  connect(redo_, &QToolButton::clicked, this, &MarkupWindow::redo);
  layout->addWidget(undo_);
  layout->addWidget(redo_);

  layout->addStretch(1);
  auto* fit = barButton(bar, {}, QStringLiteral("Zoom to fit (Ctrl+0)"));
  fit->setText(QStringLiteral("Fit"));
  auto* actual = barButton(bar, {}, QStringLiteral("Actual size (Ctrl+1)"));
  actual->setText(QStringLiteral("100 %"));
  for (QToolButton* zoom : {fit, actual}) {
    zoom->setToolButtonStyle(Qt::ToolButtonTextOnly);
    zoom->setFont(look::font(*this, 12));
    layout->addWidget(zoom);
  }
  connect(fit, &QToolButton::clicked, this, &MarkupWindow::zoomToFit);
  connect(actual, &QToolButton::clicked, this, &MarkupWindow::zoomToActualSize);
  auto* pin = barButton(bar, {}, QStringLiteral("Pin the marked-up capture above your windows"));
  pin->setText(QStringLiteral("Pin"));
  pin->setToolButtonStyle(Qt::ToolButtonTextOnly);
  pin->setFont(look::font(*this, 12));
  layout->addWidget(pin);
  connect(pin, &QToolButton::clicked, this, [this] { PinWindow::pin(model_->flattened(image_), screen()); });

  layout->addSpacing(10);
  done_ = new QPushButton(QStringLiteral("Done"), bar);
  done_->setFocusPolicy(Qt::NoFocus);
  done_->setToolTip(QStringLiteral("Apply the mark-up to the capture (Return)"));
  done_->setFont(look::font(*this, 13, QFont::Medium));
  done_->setMinimumSize(84, 32);
  done_->setStyleSheet(
      QStringLiteral("QPushButton { background: palette(highlight); color: palette(highlighted-text);"
                     " border: none; border-radius: 6px; padding: 4px 18px; }"));
  connect(done_, &QPushButton::clicked, this, &MarkupWindow::apply);
  layout->addWidget(done_);
  return bar;
}

void MarkupWindow::begin(QImage image) {
  if (textEditor_) textEditor_->deleteLater();
  image_ = std::move(image);
  model_ = std::make_unique<MarkupModel>(image_.size());
  canvas_->setZoom(1);
  changed();
}

void MarkupWindow::addRedactions(const std::vector<Rect>& boxes) {
  if (!boxes.empty()) setTool(MarkupKind::redact);
  for (const Rect& box : boxes) {
    model_->add({MarkupKind::redact,
                 QPointF(box.x, box.y),
                 QPointF(box.right(), box.bottom()),
                 Qt::black,
                 weight_,
                 {},
                 {}});
  }
  if (!boxes.empty()) changed();
}

void MarkupWindow::place(const QRect& area) {
  const QSize chrome = sizeHint() - scroll_->sizeHint();
  const QSize actual = canvas_->size() + QSize(2 * canvasPadding, 2 * canvasPadding);
  const QSize wanted(std::max(actual.width(), minimumSizeHint().width()), chrome.height() + actual.height());
  const QSize largest = (QSizeF(area.size()) * largestShare).toSize();
  const bool fits = wanted.width() <= largest.width() && wanted.height() <= largest.height();
  resize(fits ? wanted : wanted.boundedTo(largest));
  move(area.center() - QPoint(width() / 2, height() / 2));
  if (fits) {
    zoomToActualSize();
  } else {
    fitting_ = true;
    canvas_->setZoom(1);  // refitted once the window has its size
  }
}

void MarkupWindow::zoomToFit() {
  fitting_ = true;
  if (image_.isNull()) return;
  const QSizeF room = QSizeF(scroll_->viewport()->size()) - QSizeF(2 * canvasPadding, 2 * canvasPadding);
  const QSizeF shown = QSizeF(image_.size()) / devicePixelRatioF();
  const double zoom = std::min({1.0, room.width() / shown.width(), room.height() / shown.height()});
  canvas_->setZoom(std::max(0.05, zoom));
}

void MarkupWindow::zoomToActualSize() {
  fitting_ = false;
  canvas_->setZoom(1);
}

void MarkupWindow::setTool(MarkupKind tool) {
  commitText();
  tool_ = tool;
  model_->select(std::nullopt);
  changed();
}

// A colour or width chosen while an item is selected changes that item too.
void MarkupWindow::setColour(const QColor& colour) {
  colour_ = colour;
  if (const auto selected = model_->selected(); selected &&
                                                model_->items()[*selected].kind != MarkupKind::redact &&
                                                model_->items()[*selected].kind != MarkupKind::pixelate) {
    MarkupItem item = model_->items()[*selected];
    item.color = colour;
    model_->replace(*selected, item);
  }
  changed();
}

void MarkupWindow::setWeight(int weight) {
  weight_ = weight;
  if (const auto selected = model_->selected()) {
    MarkupItem item = model_->items()[*selected];
    item.weight = weight;
    model_->replace(*selected, item);
  }
  changed();
}

void MarkupWindow::undo() {
  commitText();
  model_->undo();
  changed();
}

void MarkupWindow::redo() {
  model_->redo();
  changed();
}

void MarkupWindow::deleteSelected() {
  if (const auto selected = model_->selected()) model_->remove(*selected);
  changed();
}

// With nothing drawn there is nothing to apply: the capture stays as it was.
void MarkupWindow::apply() {
  commitText();
  model_->endGesture();
  if (model_->items().empty()) {
    hide();
    return;
  }
  QImage flattened = model_->flattened(image_);
  hide();
  if (onApply) onApply(std::move(flattened), *model_);
}

void MarkupWindow::closeAsked() {
  commitText();
  if (!model_->edited()) {
    hide();
    return;
  }
  auto* question = new QMessageBox(QMessageBox::Question, QStringLiteral("Lumacap"),
                                   QStringLiteral("Discard your mark-up?"), QMessageBox::NoButton, this);
  question->setAttribute(Qt::WA_DeleteOnClose);
  QPushButton* discard = question->addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
  question->setDefaultButton(question->addButton(QStringLiteral("Keep Editing"), QMessageBox::RejectRole));
  connect(discard, &QPushButton::clicked, this, &QWidget::hide);
  question->open();
}

void MarkupWindow::changed() {
  renderControls();
  canvas_->update();
}

void MarkupWindow::renderControls() {
  tools_->button(static_cast<int>(tool_))->setChecked(true);
  const auto& presets = colours();
  const auto colour = std::find(presets.begin(), presets.end(), colour_);
  if (colour != presets.end())
    colourButtons_->button(static_cast<int>(colour - presets.begin()))->setChecked(true);
  weights_->button(weight_)->setChecked(true);
  undo_->setEnabled(model_->canUndo());
  redo_->setEnabled(model_->canRedo());
}

// Text.

void MarkupWindow::editText(QPointF imagePoint) {
  commitText();
  const double pixels = model_->textSize(weight_);
  textAt_ = imagePoint - QPointF(0, pixels * 0.6);
  auto* editor = new QLineEdit(canvas_);
  textEditor_ = editor;
  QFont font = editor->font();
  font.setWeight(QFont::Bold);
  font.setPixelSize(std::max(8, qRound(pixels * canvas_->zoom() / devicePixelRatioF())));
  editor->setFont(font);
  editor->setFrame(false);
  editor->setPlaceholderText(QStringLiteral("Text"));
  editor->setStyleSheet(QStringLiteral("QLineEdit { background: rgba(255, 255, 255, 210); color: %1;"
                                       " border: 1px dashed palette(highlight); padding: 0 2px; }")
                            .arg(colour_.name()));
  editor->move(canvas_->toWidget(textAt_).toPoint() - QPoint(3, 1));
  editor->resize(std::max(120, editor->fontMetrics().horizontalAdvance(QStringLiteral("Text")) * 3),
                 editor->fontMetrics().height() + 4);
  connect(editor, &QLineEdit::textChanged, editor, [editor] {
    const int width = editor->fontMetrics().horizontalAdvance(editor->text()) + 24;
    editor->resize(std::max(editor->width(), width), editor->height());
  });
  editor->installEventFilter(this);
  editor->show();
  editor->setFocus();
}

void MarkupWindow::commitText() {
  if (!textEditor_) return;
  const QString text = textEditor_->text().trimmed();
  textEditor_->deleteLater();
  textEditor_ = nullptr;
  if (!text.isEmpty())
    model_->select(model_->add({MarkupKind::text, textAt_, textAt_, colour_, weight_, text, {}}));
  canvas_->setFocus();
  changed();
}

bool MarkupWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == scroll_->viewport() && event->type() == QEvent::Resize && fitting_) zoomToFit();
  if (watched == textEditor_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (confirmsMarkup(*key)) {
      commitText();
      if (key->modifiers() & Qt::ControlModifier) apply();
      return true;
    }
    // Escape ends the typing and keeps the text, as a step undo can take back.
    if (key->key() == Qt::Key_Escape) {
      commitText();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MarkupWindow::keyPressEvent(QKeyEvent* event) {
  if (canvas_->dragging()) return;
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (confirmsMarkup(*event)) return apply();
  if (event->key() == Qt::Key_Escape) return closeAsked();
  if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) return deleteSelected();
  if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier) && event->key() == Qt::Key_Z) return redo();
  if (modifiers == Qt::ControlModifier) {
    if (event->key() == Qt::Key_Z) return undo();
    if (event->key() == Qt::Key_Y) return redo();
    if (event->key() == Qt::Key_0) return zoomToFit();
    if (event->key() == Qt::Key_1) return zoomToActualSize();
  }
  if (modifiers == Qt::NoModifier) {
    for (const ToolEntry& entry : toolEntries) {
      if (event->key() == entry.key) return setTool(entry.kind);
    }
  }
  QWidget::keyPressEvent(event);
}

// The close button asks as Escape does.
void MarkupWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  closeAsked();
}

}  // namespace lumacap
