#include "app/model/MarkupModel.h"

#include "app/model/MarkupPainter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <algorithm>
#include <array>
#include <cmath>

namespace lumacap {
namespace {

constexpr std::array<double, 3> strokes{3, 5, 8};
constexpr std::array<double, 3> textSizes{16, 22, 32};
constexpr std::array<double, 3> badgeRadii{11, 14, 18};
constexpr std::array<double, 3> cellSizes{6, 10, 16};

double pick(const std::array<double, 3>& sizes, int weight) {
  return sizes[static_cast<size_t>(std::clamp(weight, 0, 2))];
}

double distanceToSegment(QPointF point, QPointF a, QPointF b) {
  const QPointF ab = b - a;
  const double length2 = QPointF::dotProduct(ab, ab);
  const double t = length2 > 0 ? std::clamp(QPointF::dotProduct(point - a, ab) / length2, 0.0, 1.0) : 0.0;
  const QPointF nearest = a + t * ab;
  return std::hypot(point.x() - nearest.x(), point.y() - nearest.y());
}

double distanceToOutline(QPointF point, const QRectF& box) {
  const std::array<std::pair<QPointF, QPointF>, 4> sides{{{box.topLeft(), box.topRight()},
                                                          {box.topRight(), box.bottomRight()},
                                                          {box.bottomRight(), box.bottomLeft()},
                                                          {box.bottomLeft(), box.topLeft()}}};
  double nearest = std::numeric_limits<double>::max();
  for (const auto& [a, b] : sides) nearest = std::min(nearest, distanceToSegment(point, a, b));
  return nearest;
}

double distanceToPath(QPointF point, const std::vector<QPointF>& path) {
  if (path.size() == 1) return distanceToSegment(point, path.front(), path.front());
  double nearest = std::numeric_limits<double>::max();
  for (size_t index = 1; index < path.size(); ++index)
    nearest = std::min(nearest, distanceToSegment(point, path[index - 1], path[index]));
  return nearest;
}

// How far a point lies from an ellipse's outline, measured along the ray
// from its centre (exact on a circle, close enough to hit on any other).
double distanceToEllipse(QPointF point, const QRectF& box) {
  const QPointF centre = box.center();
  const double a = std::max(box.width() / 2, 0.5);
  const double b = std::max(box.height() / 2, 0.5);
  const QPointF offset = point - centre;
  const double reach = std::hypot(offset.x() / a, offset.y() / b);
  if (reach == 0) return std::min(a, b);
  return std::hypot(offset.x(), offset.y()) * std::abs(1 - 1 / reach);
}

}  // namespace

QRectF spanned(QPointF a, QPointF b) { return QRectF(a, b).normalized(); }

QRect redactedPixels(const MarkupItem& item) { return spanned(item.from, item.to).toAlignedRect(); }

QFont textFont(double pixels) {
  QFont font;
  font.setPixelSize(std::max(1, qRound(pixels)));
  font.setWeight(QFont::Bold);
  return font;
}

MarkupModel::MarkupModel(QSize imageSize) : imageSize_(imageSize) {}

double MarkupModel::unit() const {
  const double linear = std::sqrt(double(imageSize_.width()) * double(imageSize_.height()));
  return std::max(1.0, linear / 1000.0);
}

double MarkupModel::strokeWidth(int weight) const { return pick(strokes, weight) * unit(); }
double MarkupModel::textSize(int weight) const { return pick(textSizes, weight) * unit(); }
double MarkupModel::badgeRadius(int weight) const { return pick(badgeRadii, weight) * unit(); }
int MarkupModel::cellSize(int weight) const { return std::max(2, qRound(pick(cellSizes, weight) * unit())); }

// Editing.

// Each step keeps its changes, never a copy of the items: the history grows
// with what was done, not with how many items there are at each step.
void MarkupModel::record() {
  if (inGesture_) return;
  undo_.emplace_back();
  redo_.clear();
}

// A change joins the step under way; in a drag, the changes to one item
// become one (and one that ends where it began, none).
void MarkupModel::note(Change change) {
  Step& step = undo_.back();
  if (!step.empty() && step.back().index == change.index) {
    Change& last = step.back();
    if (change.kind == Change::Kind::set && last.kind == Change::Kind::set) {
      last.after = std::move(change.after);
      if (last.before == last.after) step.pop_back();
      return;
    }
    if (change.kind == Change::Kind::set && last.kind == Change::Kind::insert) {
      last.after = std::move(change.after);
      return;
    }
    if (change.kind == Change::Kind::erase && last.kind == Change::Kind::insert) {
      step.pop_back();
      return;
    }
  }
  step.push_back(std::move(change));
}

void MarkupModel::apply(std::vector<MarkupItem>& items, const Change& change, bool forward) {
  const auto at = items.begin() + static_cast<std::ptrdiff_t>(change.index);
  switch (change.kind) {
    case Change::Kind::insert:
      if (forward) {
        items.insert(at, change.after);
      } else {
        items.erase(at);
      }
      break;
    case Change::Kind::erase:
      if (forward) {
        items.erase(at);
      } else {
        items.insert(at, change.before);
      }
      break;
    case Change::Kind::set:
      *at = forward ? change.after : change.before;
      break;
  }
}

void MarkupModel::changed() {
  if (selected_ && *selected_ >= items_.size()) selected_.reset();
}

size_t MarkupModel::add(MarkupItem item) {
  record();
  if (item.kind == MarkupKind::crop) {
    for (size_t index = items_.size(); index-- > 0;) {
      if (items_[index].kind != MarkupKind::crop) continue;
      Change erased{Change::Kind::erase, index, std::move(items_[index]), {}};
      items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
      note(std::move(erased));
    }
  }
  items_.push_back(item);
  note({Change::Kind::insert, items_.size() - 1, {}, std::move(item)});
  changed();
  return items_.size() - 1;
}

void MarkupModel::remove(size_t index) {
  if (index >= items_.size()) return;
  record();
  Change erased{Change::Kind::erase, index, std::move(items_[index]), {}};
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  note(std::move(erased));
  selected_.reset();
}

void MarkupModel::replace(size_t index, MarkupItem item) {
  if (index >= items_.size() || items_[index] == item) return;
  record();
  Change set{Change::Kind::set, index, items_[index], item};
  items_[index] = std::move(item);
  note(std::move(set));
}

void MarkupModel::moveBy(size_t index, QPointF delta) {
  if (index >= items_.size()) return;
  MarkupItem moved = items_[index];
  moved.from += delta;
  moved.to += delta;
  for (QPointF& point : moved.path) point += delta;
  replace(index, std::move(moved));
}

void MarkupModel::resize(size_t index, MarkupHandle handle, QPointF to) {
  if (index >= items_.size()) return;
  MarkupItem resized = items_[index];
  switch (handle) {
    case MarkupHandle::from:
      resized.from = to;
      break;
    case MarkupHandle::to:
      resized.to = to;
      break;
    case MarkupHandle::topRight:
      resized.to.setX(to.x());
      resized.from.setY(to.y());
      break;
    case MarkupHandle::bottomLeft:
      resized.from.setX(to.x());
      resized.to.setY(to.y());
      break;
  }
  replace(index, std::move(resized));
}

void MarkupModel::beginGesture() {
  record();
  inGesture_ = true;
}

// A gesture that changed nothing leaves no step behind.
void MarkupModel::endGesture() {
  if (!inGesture_) return;
  inGesture_ = false;
  if (undo_.empty()) return;
  const Step& step = undo_.back();
  bool unchanged = step.empty();
  if (!unchanged) {
    std::vector<MarkupItem> before = items_;
    for (auto change = step.rbegin(); change != step.rend(); ++change) apply(before, *change, false);
    unchanged = before == items_;
  }
  if (unchanged) undo_.pop_back();
}

void MarkupModel::undo() {
  endGesture();
  if (undo_.empty()) return;
  Step step = std::move(undo_.back());
  undo_.pop_back();
  for (auto change = step.rbegin(); change != step.rend(); ++change) apply(items_, *change, false);
  redo_.push_back(std::move(step));
  selected_.reset();
}

void MarkupModel::redo() {
  if (redo_.empty()) return;
  Step step = std::move(redo_.back());
  redo_.pop_back();
  for (const Change& change : step) apply(items_, change, true);
  undo_.push_back(std::move(step));
  selected_.reset();
}

size_t MarkupModel::historyLength() const {
  size_t length = 0;
  for (const auto* steps : {&undo_, &redo_}) {
    for (const Step& step : *steps) length += step.size();
  }
  return length;
}

void MarkupModel::select(std::optional<size_t> index) {
  selected_ = index && *index < items_.size() ? index : std::nullopt;
}

// Hit-testing.

std::optional<size_t> MarkupModel::itemAt(QPointF point, double tolerance) const {
  for (size_t index = items_.size(); index-- > 0;) {
    const MarkupItem& item = items_[index];
    const double reach = tolerance + strokeWidth(item.weight) / 2;
    bool hit = false;
    switch (item.kind) {
      case MarkupKind::arrow:
      case MarkupKind::line:
        hit = distanceToSegment(point, item.from, item.to) <= reach;
        break;
      case MarkupKind::pen:
        hit = distanceToPath(point, item.path) <= reach;
        break;
      case MarkupKind::ellipse:
        hit = distanceToEllipse(point, spanned(item.from, item.to)) <= reach;
        break;
      // Outlines only, so that what they surround stays within reach.
      case MarkupKind::rectangle:
      case MarkupKind::crop:
        hit = distanceToOutline(point, spanned(item.from, item.to)) <= reach;
        break;
      default:
        hit = bounds(item).adjusted(-tolerance, -tolerance, tolerance, tolerance).contains(point);
    }
    if (hit) return index;
  }
  return std::nullopt;
}

std::vector<std::pair<MarkupHandle, QPointF>> MarkupModel::handles(const MarkupItem& item) {
  switch (item.kind) {
    case MarkupKind::arrow:
    case MarkupKind::line:
      return {{MarkupHandle::from, item.from}, {MarkupHandle::to, item.to}};
    case MarkupKind::pen:
    case MarkupKind::text:
    case MarkupKind::step:
      return {};
    default:
      return {{MarkupHandle::from, item.from},
              {MarkupHandle::to, item.to},
              {MarkupHandle::topRight, QPointF(item.to.x(), item.from.y())},
              {MarkupHandle::bottomLeft, QPointF(item.from.x(), item.to.y())}};
  }
}

std::optional<MarkupHandle> MarkupModel::handleAt(size_t index, QPointF point, double tolerance) const {
  if (index >= items_.size()) return std::nullopt;
  for (const auto& [handle, at] : handles(items_[index])) {
    if (std::abs(point.x() - at.x()) <= tolerance && std::abs(point.y() - at.y()) <= tolerance) return handle;
  }
  return std::nullopt;
}

QRect MarkupModel::cropArea() const {
  const QRect whole(QPoint(0, 0), imageSize_);
  const auto crop = std::find_if(items_.rbegin(), items_.rend(),
                                 [](const MarkupItem& item) { return item.kind == MarkupKind::crop; });
  if (crop == items_.rend()) return whole;
  const QRectF box = spanned(crop->from, crop->to);
  const QRect area = QRect(QPoint(qRound(box.left()), qRound(box.top())),
                           QPoint(qRound(box.right()) - 1, qRound(box.bottom()) - 1))
                         .intersected(whole);
  return area.isEmpty() ? whole : area;
}

QRectF MarkupModel::bounds(const MarkupItem& item) const {
  switch (item.kind) {
    case MarkupKind::text: {
      const QFontMetricsF metrics(textFont(textSize(item.weight)));
      return QRectF(item.from, QSizeF(metrics.horizontalAdvance(item.text), metrics.height()));
    }
    case MarkupKind::step: {
      const double radius = badgeRadius(item.weight);
      return QRectF(item.from - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius));
    }
    case MarkupKind::pen: {
      QRectF box = spanned(item.from, item.to);
      for (const QPointF& point : item.path) box = box.united(QRectF(point, QSizeF(0, 0)));
      return box;
    }
    default:
      return spanned(item.from, item.to);
  }
}

int MarkupModel::stepNumber(size_t index) const {
  const auto end = items_.begin() + static_cast<std::ptrdiff_t>(std::min(index + 1, items_.size()));
  return static_cast<int>(std::count_if(
      items_.begin(), end, [](const MarkupItem& item) { return item.kind == MarkupKind::step; }));
}

// Drawing.

void MarkupModel::paint(QPainter& painter, const QImage& image) const {
  for (size_t index = 0; index < items_.size(); ++index) paintItem(painter, index, image);
}

void MarkupModel::paintItem(QPainter& painter, size_t index, const QImage& image) const {
  MarkupPainter(*this).paintItem(painter, index, image);
}

std::vector<QRect> MarkupModel::redactedAreas() const {
  std::vector<QRect> areas;
  for (const MarkupItem& item : items_) {
    if (item.kind == MarkupKind::redact) areas.push_back(redactedPixels(item));
  }
  return areas;
}

// Only the kept part is copied, and drawn on in place.
QImage MarkupModel::flattened(const QImage& image) const {
  const QRect area = cropArea();
  const QImage::Format drawable =
      image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
  QImage canvas = image.copy(area).convertToFormat(drawable);
  {
    QPainter painter(&canvas);
    painter.translate(-area.topLeft());
    paint(painter, image);
  }
  if (image.hasAlphaChannel()) canvas = std::move(canvas).convertToFormat(QImage::Format_ARGB32);
  return canvas;
}

}  // namespace lumacap
