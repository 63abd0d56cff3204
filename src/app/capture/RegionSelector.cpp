#include "app/capture/RegionSelector.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "platform/ClipboardClaim.h"
#include "platform/wayland/OverlayLayer.h"

namespace lumacap {
namespace {

Point pointOf(const QMouseEvent* event) { return Point{event->position().x(), event->position().y()}; }

QRectF toQt(const Rect& rect) { return QRectF(rect.x, rect.y, rect.width, rect.height); }

QFont labelFont() {
  QFont font = QGuiApplication::font();
  font.setPixelSize(13);
  font.setWeight(QFont::Medium);
  return font;
}

// The rounded box a label of `text` at `at` fills.
QRectF labelBox(const QString& text, Point at) {
  const QFontMetricsF metrics(labelFont());
  return QRectF(at.x - 10, at.y - 7, metrics.horizontalAdvance(text) + 20, metrics.height() + 14);
}

const QColor dimColor(0, 0, 0, 77);  // black at 30 %
constexpr int loupeCells = 15;       // pixels across, the pointed one in the middle
constexpr double loupeZoom = 8;      // points per pixel shown
constexpr double loupeSide = loupeCells * loupeZoom;
constexpr double loupeGap = 24;  // between the pointer and the loupe
constexpr double loupeLabelHeight = 34;
constexpr double loupeAreaWidth = 200;  // the label under the loupe is wider
constexpr int keyboardGrabAttempts = 20;
constexpr auto keyboardGrabRetry = std::chrono::milliseconds(50);

}  // namespace

namespace {
// The screen as the overlay shows it outside the selection: black at 30 %
// over it, worked out once instead of on every redraw.
QImage dimmedCopy(const QImage& backdrop) {
  if (backdrop.isNull()) return backdrop;
  QImage dimmed = backdrop.convertToFormat(QImage::Format_RGB32);
  const qreal ratio = dimmed.devicePixelRatio();
  dimmed.setDevicePixelRatio(1);
  QPainter painter(&dimmed);
  painter.fillRect(dimmed.rect(), dimColor);
  painter.end();
  dimmed.setDevicePixelRatio(ratio);
  return dimmed;
}
}  // namespace

SelectionView::SelectionView(QImage backdrop, QWidget* parent)
    : QWidget(parent), backdrop_(std::move(backdrop)), dimmed_(dimmedCopy(backdrop_)) {
  setCursor(Qt::CrossCursor);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);  // the loupe follows the pointer before a drag too
}

void SelectionView::awaitPicture() {
  awaitingPicture_ = true;
  update();
}

void SelectionView::setPicture(QImage backdrop) {
  backdrop_ = std::move(backdrop);
  dimmed_ = dimmedCopy(backdrop_);
  awaitingPicture_ = false;
  update();
}

std::optional<QPoint> SelectionView::pointedPixel() const {
  if (!pointer_ || backdrop_.isNull()) return std::nullopt;
  const qreal ratio = backdrop_.devicePixelRatio();
  const QPoint pixel(int(std::floor(pointer_->x * ratio)), int(std::floor(pointer_->y * ratio)));
  if (!backdrop_.rect().contains(pixel)) return std::nullopt;
  return pixel;
}

std::optional<QColor> SelectionView::pointedColour() const {
  const std::optional<QPoint> pixel = pointedPixel();
  if (!pixel) return std::nullopt;
  return QColor(backdrop_.pixel(*pixel));
}

// Beside the pointer, below and to the right where there is room.
std::optional<QRect> SelectionView::loupeArea() const {
  if (!pointedPixel()) return std::nullopt;
  const QSizeF size(loupeAreaWidth, loupeSide + loupeLabelHeight);
  double x = pointer_->x + loupeGap;
  double y = pointer_->y + loupeGap;
  if (x + size.width() > width()) x = pointer_->x - loupeGap - size.width();
  if (y + size.height() > height()) y = pointer_->y - loupeGap - size.height();
  return QRectF(QPointF(x, y), size).toAlignedRect();
}

void SelectionView::pointAt(std::optional<Point> point) {
  const std::optional<QRect> before = loupeArea();
  pointer_ = point;
  const std::optional<QRect> after = loupeArea();
  // Only the loupe's old and new places.
  QRect area = before.value_or(QRect()).united(after.value_or(QRect()));
  if (!area.isEmpty()) update(area.adjusted(-12, -12, 12, 12));
}

Point SelectionView::eventPoint(const QMouseEvent* event) const {
  return nudged_ && pointer_ ? *pointer_ : pointOf(event);
}

void SelectionView::nudge(Point by) {
  const QPointF cursor = mapFromGlobal(QCursor::pos().toPointF());
  Point at = pointer_.value_or(Point{cursor.x(), cursor.y()});
  const Rect area = anchor_ ? limits() : bounds();
  at.x = std::clamp(at.x + by.x, area.x, area.x + area.width - 1);
  at.y = std::clamp(at.y + by.y, area.y, area.y + area.height - 1);
  nudged_ = true;
  pointAt(at);
  if (warps_) QCursor::setPos(mapToGlobal(QPointF(at.x, at.y)).toPoint());
  if (anchor_) dragTo(at);
}

Rect SelectionView::bounds() const {
  return Rect{0, 0, static_cast<double>(width()), static_cast<double>(height())};
}

void SelectionView::shareSelection(Point origin, Rect reach) {
  origin_ = origin;
  reach_ = reach;
}

// Where a drag may reach, in this view's points.
Rect SelectionView::limits() const {
  if (!reach_) return bounds();
  return Rect{reach_->x - origin_.x, reach_->y - origin_.y, reach_->width, reach_->height};
}

void SelectionView::showSharedSelection(const Rect& global) {
  if (anchor_) return;  // this view's own drag
  const Rect local{global.x - origin_.x, global.y - origin_.y, global.width, global.height};
  const std::optional<Rect> before = selection_;
  if (local.intersected(bounds()).isEmpty()) {
    selection_.reset();
  } else {
    selection_ = local;
  }
  repaintSelection(before);  // nothing while the drag stays on other outputs
}

void SelectionView::setKeyboardUnavailable(bool unavailable) {
  keyboardUnavailable_ = unavailable;
  update();
}

void SelectionView::mousePressEvent(QMouseEvent* event) {
  // The right button cancels, as Escape does.
  if (event->button() == Qt::RightButton) {
    if (selected) selected(std::nullopt);
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  window()->activateWindow();
  setFocus(Qt::MouseFocusReason);
  anchor_ = eventPoint(event);
  selection_.reset();
}

void SelectionView::dragTo(Point point) {
  const std::optional<Rect> before = selection_;
  selection_ = geometry::spanned(*anchor_, point).intersected(limits());
  if (moved)
    moved(Rect{selection_->x + origin_.x, selection_->y + origin_.y, selection_->width, selection_->height});
  repaintSelection(before);
}

void SelectionView::repaintSelection(const std::optional<Rect>& before) {
  // A selection that comes or goes takes the hint label with it, wherever that is.
  if (before.has_value() != selection_.has_value()) return update();
  update(selectionExtent(before) + selectionExtent(selection_));
}

QRegion SelectionView::selectionExtent(const std::optional<Rect>& selection) const {
  if (!selection) return {};
  // (The frame's antialiased 1.5-point pen reaches past the rectangle on both sides.)
  QRegion extent(toQt(*selection).toAlignedRect().adjusted(-3, -3, 3, 3));
  if (anchor_) {
    const QString label = QString::fromStdString(geometry::sizeLabel(*selection));
    const Point at = geometry::sizeLabelPosition(selection->intersected(bounds()), bounds());
    extent += labelBox(label, at).toAlignedRect().adjusted(-2, -2, 2, 2);
  }
  return extent;
}

void SelectionView::mouseMoveEvent(QMouseEvent* event) {
  nudged_ = false;
  pointAt(pointOf(event));
  if (!anchor_) return;
  dragTo(pointOf(event));
}

void SelectionView::leaveEvent(QEvent*) {
  if (!anchor_) pointAt(std::nullopt);
}

void SelectionView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (anchor_) dragTo(eventPoint(event));
  if (selection_ && geometry::isCapturableRegion(*selection_)) {
    claimClipboardFromInput();  // while this window has the focus and a fresh input serial
    if (selected) selected(*selection_);
    return;
  }
  // Too small to capture: the overlay stays up for another drag.
  anchor_.reset();
  selection_.reset();
  update();
}

void SelectionView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    if (selected) selected(std::nullopt);
    return;
  }
  const double step = event->modifiers() & Qt::ShiftModifier ? 10 : 1;
  switch (event->key()) {
    case Qt::Key_Left:
      return nudge(Point{-step, 0});
    case Qt::Key_Right:
      return nudge(Point{step, 0});
    case Qt::Key_Up:
      return nudge(Point{0, -step});
    case Qt::Key_Down:
      return nudge(Point{0, step});
    case Qt::Key_C:
      if (const std::optional<QColor> colour = pointedColour()) {
        claimClipboardFromInput();  // while this window has the focus and a fresh input serial
        if (picked) picked(*colour);
        if (selected) selected(std::nullopt);
      }
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void SelectionView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRectF all = rect();
  if (awaitingPicture_) {
    // Nothing of the overlay may be in the picture the desktop is painting.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(all, Qt::transparent);
    return;
  }
  if (dimmed_.isNull()) {
    painter.fillRect(all, Qt::black);
  } else {
    painter.drawImage(all, dimmed_);
  }

  paintBanner(painter);
  if (!selection_) {
    drawLabel(painter,
              keyboardUnavailable_
                  ? "Drag to capture · right-click to cancel (another program has the keyboard)"
                  : "Drag to capture · arrow keys nudge · C copies the colour · Esc to cancel",
              geometry::hintLabelPosition(bounds()));
    paintLoupe(painter);
    return;
  }
  // The selection shows the screen undimmed: the frozen pixels again.
  const QRectF area = toQt(selection_->intersected(bounds()));
  if (!backdrop_.isNull()) {
    const qreal ratio = backdrop_.devicePixelRatio();
    const QRectF source(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio);
    painter.drawImage(area, backdrop_, source);
  } else {
    painter.fillRect(area, Qt::black);
  }
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::white, 1.5));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(toQt(*selection_));
  // The size label belongs to the view the drag started in.
  if (anchor_) {
    drawLabel(painter, QString::fromStdString(geometry::sizeLabel(*selection_)),
              geometry::sizeLabelPosition(selection_->intersected(bounds()), bounds()));
  }
  paintLoupe(painter);
}

// The frozen pixels around the pointed one, each a square of 8 points, on a
// grid, the pointed one framed; under them its coordinates and colour.
void SelectionView::paintLoupe(QPainter& painter) {
  const std::optional<QRect> area = loupeArea();
  if (!area) return;
  const QPoint pixel = *pointedPixel();
  const QRectF lens(area->topLeft(), QSizeF(loupeSide, loupeSide));
  const QRect source(pixel.x() - loupeCells / 2, pixel.y() - loupeCells / 2, loupeCells, loupeCells);
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.fillRect(lens, Qt::black);
  // Only the pixels there are (none past the screen's edge).
  const QRect shown = source.intersected(backdrop_.rect());
  const QPointF offset = QPointF(shown.topLeft() - source.topLeft()) * loupeZoom;
  painter.drawImage(QRectF(lens.topLeft() + offset, QSizeF(shown.size()) * loupeZoom), backdrop_, shown);
  painter.setPen(QPen(QColor(0, 0, 0, 40), 0));
  for (int line = 1; line < loupeCells; ++line) {
    painter.drawLine(QPointF(lens.left() + line * loupeZoom, lens.top()),
                     QPointF(lens.left() + line * loupeZoom, lens.bottom()));
    painter.drawLine(QPointF(lens.left(), lens.top() + line * loupeZoom),
                     QPointF(lens.right(), lens.top() + line * loupeZoom));
  }
  const QRectF middle(lens.topLeft() + QPointF(loupeCells / 2, loupeCells / 2) * loupeZoom,
                      QSizeF(loupeZoom, loupeZoom));
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawRect(middle.adjusted(-1, -1, 1, 1));
  painter.setPen(QPen(Qt::white, 1));
  painter.drawRect(middle.adjusted(-2, -2, 2, 2));
  painter.drawRect(lens.adjusted(-1, -1, 0, 0));
  painter.restore();
  const QString text =
      QStringLiteral("%1, %2   %3").arg(pixel.x()).arg(pixel.y()).arg(pointedColour()->name(QColor::HexRgb));
  drawLabel(painter, text, Point{lens.left() + 10, lens.bottom() + 10});
}

void SelectionView::drawLabel(QPainter& painter, const QString& text, Point at) {
  const QRectF box = labelBox(text, at);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 0, 0, 204));  // black at 80 %
  painter.drawRoundedRect(box, 8, 8);
  painter.setFont(labelFont());
  painter.setPen(Qt::white);
  painter.drawText(box.adjusted(10, 7, -10, -7), Qt::AlignLeft | Qt::AlignTop, text);
  painter.restore();
}

void SelectionView::setBanner(const QString& banner) {
  banner_ = banner;
  update();
}

// The banner: one line at the top centre, at most 60 % of the width, in the
// labels' style; drawText shows it as the characters it is, never as markup.
void SelectionView::paintBanner(QPainter& painter) {
  if (banner_.isEmpty()) return;
  QFont font = QGuiApplication::font();
  font.setPixelSize(13);
  font.setWeight(QFont::DemiBold);
  const QFontMetricsF metrics(font);
  const QString text = metrics.elidedText(banner_, Qt::ElideMiddle, width() * 0.6);
  const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
  const QRectF box((width() - size.width()) / 2 - 12, 4, size.width() + 24, size.height() + 14);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(255, 255, 255, 90), 1));
  painter.setBrush(QColor(0, 0, 0, 204));
  painter.drawRoundedRect(box, 8, 8);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, text);
  painter.restore();
}

SelectionWindow::SelectionWindow(QScreen* screen, uint32_t displayID, QImage backdrop, bool pictureToCome)
    : QWidget(nullptr,
              Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint),
      view_(new SelectionView(std::move(backdrop), this)),
      displayID_(displayID) {
  if (pictureToCome) {
    setAttribute(Qt::WA_TranslucentBackground);  // before the native window is made
    view_->awaitPicture();
  }
  setWindowTitle("Select Region — Esc to Cancel");
  setAccessibleName(windowTitle());
  setAttribute(Qt::WA_DeleteOnClose, false);
  if (screen) {
    setScreen(screen);
    setGeometry(screen->geometry());
  }
  view_->setGeometry(rect());
}

void SelectionWindow::resizeEvent(QResizeEvent*) { view_->setGeometry(rect()); }

RegionSelector::RegionSelector(Completion completion, bool shared)
    : completion_(std::move(completion)), shared_(shared) {}

RegionSelector::~RegionSelector() { finish(std::nullopt); }

namespace {
// A screen's picture at the screen's density, for drawing it over its points.
QImage atDensityOf(QImage picture, const QScreen* screen) {
  if (!picture.isNull() && screen && screen->geometry().width() > 0) {
    picture.setDevicePixelRatio(static_cast<double>(picture.width()) / screen->geometry().width());
  }
  return picture;
}
}  // namespace

bool RegionSelector::isShown() const {
  return !windows_.empty() &&
         std::all_of(windows_.begin(), windows_.end(), [](const QPointer<SelectionWindow>& window) {
           return window && window->windowHandle() && window->windowHandle()->isExposed();
         });
}

void RegionSelector::showPictures(std::map<uint32_t, QImage> pictures) {
  pictures_ = std::move(pictures);
  for (SelectionWindow* window : windows_) {
    if (!window || !window->view()->awaitingPicture()) continue;
    const auto picture = pictures_->find(window->displayID());
    window->view()->setPicture(
        atDensityOf(picture == pictures_->end() ? QImage() : picture->second, window->screen()));
    // Translucent only while it showed nothing: the desktop need not paint what is below it now.
    if (window->windowHandle()) coverOpaquely(*window->windowHandle());
  }
}

void RegionSelector::show(const std::vector<OverlayScreen>& screens, std::optional<uint32_t> keyDisplay) {
  if (screens.empty()) {
    // Nothing to drag on: the selection can never complete.
    finish(std::nullopt);
    return;
  }
  const QPoint pointer = QCursor::pos();
  SelectionWindow* key = nullptr;
  // Where a shared selection may reach: every screen's frame.
  QRect allScreens;
  for (const OverlayScreen& screen : screens) {
    if (screen.screen) allScreens = allScreens.united(screen.screen->geometry());
  }
  const Rect reach{double(allScreens.x()), double(allScreens.y()), double(allScreens.width()),
                   double(allScreens.height())};
  // The window of the key display, else the one under the pointer, else the first, takes the keys.
  const auto keyScreen = std::find_if(screens.begin(), screens.end(), [&](const OverlayScreen& screen) {
    return keyDisplay ? screen.displayID == *keyDisplay
                      : screen.screen && screen.screen->geometry().contains(pointer);
  });
  const uint32_t keyID = (keyScreen == screens.end() ? screens.front() : *keyScreen).displayID;
  for (const OverlayScreen& screen : screens) {
    QImage backdrop = screen.backdrop;
    if (backdrop.isNull() && pictures_) {
      if (const auto given = pictures_->find(screen.displayID); given != pictures_->end())
        backdrop = given->second;
    }
    auto* window =
        new SelectionWindow(screen.screen, screen.displayID, atDensityOf(std::move(backdrop), screen.screen),
                            picturesToCome_ && !pictures_);
    window->view()->selected = [this, displayID = screen.displayID](std::optional<Rect> rect) {
      finish(rect ? std::optional(RegionSelection{displayID, *rect}) : std::nullopt);
    };
    window->view()->picked = [this](const QColor& colour) {
      if (colourPicked) colourPicked(colour.name(QColor::HexRgb));
    };
    window->view()->setPointerWarps(!shared_);
    windows_.emplace_back(window);
    if (shared_ && screen.screen) {
      const QPoint origin = screen.screen->geometry().topLeft();
      window->view()->shareSelection(Point{double(origin.x()), double(origin.y())}, reach);
      window->view()->moved = [this, view = window->view()](const Rect& global) {
        for (const QPointer<SelectionWindow>& other : windows_) {
          if (other && other->view() != view) other->view()->showSharedSelection(global);
        }
      };
    }
    const bool isKey = !key && screen.displayID == keyID;
    if (isKey) key = window;
    if (shared_ && screen.screen) {
      // Wayland places no window: each covers its screen's output, on the
      // overlay layer where the desktop has one, else as a full-screen window.
      window->winId();
      window->windowHandle()->setScreen(screen.screen);
      if (overlayLayer_ && placeOnOverlayLayer(*window->windowHandle(), isKey)) {
        onOverlayLayer_ = true;
        window->show();
      } else {
        window->showFullScreen();
      }
    } else {
      window->show();
      window->raise();
    }
  }
  // An override-redirect window gets no focus from the window manager, so it
  // grabs the keyboard: Escape must reach the overlay.
  if (!key) key = windows_.front();
  key->activateWindow();
  key->view()->setFocus(Qt::OtherFocusReason);
  key->view()->setBanner(banner);
  keyWindow_ = key;
  // Wayland has no keyboard grabs: the focused full-screen window gets the keys.
  if (!shared_) grabKeyboard(keyboardGrabAttempts);
}

// Another program may hold the keyboard for a moment (a menu closing, a key
// still held): try again for a while, then say that Escape cannot work.
void RegionSelector::grabKeyboard(int attemptsLeft) {
  if (!keyWindow_ || !keyWindow_->windowHandle()) return;
  if (keyWindow_->windowHandle()->setKeyboardGrabEnabled(true)) {
    keyWindow_->view()->setKeyboardUnavailable(false);
    return;
  }
  keyWindow_->view()->setKeyboardUnavailable(true);
  if (attemptsLeft <= 1) return;
  QTimer::singleShot(keyboardGrabRetry, keyWindow_.data(),
                     [this, alive = std::weak_ptr<bool>(alive_), attemptsLeft] {
                       if (alive.lock()) grabKeyboard(attemptsLeft - 1);
                     });
}

void RegionSelector::finish(std::optional<RegionSelection> selection) {
  if (!completion_) return;
  Completion completion = std::exchange(completion_, nullptr);
  for (const QPointer<SelectionWindow>& window : windows_) {
    if (!window) continue;
    window->view()->selected = nullptr;
    window->view()->moved = nullptr;
    window->view()->picked = nullptr;
    if (window->windowHandle()) window->windowHandle()->setKeyboardGrabEnabled(false);
    window->hide();
    window->close();
    // Finishing runs inside one of the views' own event handlers.
    window->deleteLater();
  }
  windows_.clear();
  completion(selection);
}

}  // namespace lumacap
