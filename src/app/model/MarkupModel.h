#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>
#include <optional>
#include <vector>

class QPainter;

namespace lumacap {

// What a mark-up item is, and the tool that draws it.
enum class MarkupKind {
  arrow,
  line,
  pen,
  rectangle,
  ellipse,
  highlighter,
  text,
  step,
  pixelate,
  redact,
  crop
};

// One mark on the image, in the image's own pixels. Arrows and lines run
// from `from` to `to`; a pen stroke follows `path` (from its first point to
// its last); every other kind fills the box the two points span (a step
// badge and a text sit at `from`, `to` is the far corner of what they cover).
struct MarkupItem {
  MarkupKind kind = MarkupKind::rectangle;
  QPointF from;
  QPointF to;
  QColor color = Qt::red;
  int weight = 1;  // 0, 1 or 2: thin, medium, thick (also the size of texts, badges and pixelation cells)
  QString text;
  std::vector<QPointF> path;  // a pen stroke's points

  bool operator==(const MarkupItem&) const = default;
};

// The part of an item a pointer can take hold of to resize it.
enum class MarkupHandle { from, to, topRight, bottomLeft };

// The mark-up of one image: its items in drawing order, the selection, and
// the history that undo and redo walk. Sizes scale with the image, so that
// a stroke that reads on a capture at one pixel per point reads as well on
// the same capture at two.
class MarkupModel {
 public:
  explicit MarkupModel(QSize imageSize);

  QSize imageSize() const { return imageSize_; }
  const std::vector<MarkupItem>& items() const { return items_; }
  // Whether anything was done since the model was made (what Escape would lose).
  bool edited() const { return !undo_.empty(); }

  // Pixels of the image per unit of stroke: 1 up to about a megapixel, then
  // growing with the image's linear size.
  double unit() const;
  double strokeWidth(int weight) const;
  double textSize(int weight) const;
  double badgeRadius(int weight) const;
  // The side of a pixelation cell, in whole image pixels.
  int cellSize(int weight) const;

  // Each of these is one step of undo. A crop replaces the crop there was.
  size_t add(MarkupItem item);
  void remove(size_t index);
  void replace(size_t index, MarkupItem item);
  void moveBy(size_t index, QPointF delta);
  void resize(size_t index, MarkupHandle handle, QPointF to);
  // Between these, every change is one step of undo together (a drag).
  void beginGesture();
  void endGesture();

  bool canUndo() const { return !undo_.empty(); }
  bool canRedo() const { return !redo_.empty(); }
  void undo();
  void redo();
  // The changes undo and redo hold: about one per step, however many items
  // there are.
  size_t historyLength() const;

  std::optional<size_t> selected() const { return selected_; }
  void select(std::optional<size_t> index);

  // The topmost item under `point`, `tolerance` pixels around it counted.
  std::optional<size_t> itemAt(QPointF point, double tolerance) const;
  // The handle of the item at `index` under `point`, if any.
  std::optional<MarkupHandle> handleAt(size_t index, QPointF point, double tolerance) const;
  static std::vector<std::pair<MarkupHandle, QPointF>> handles(const MarkupItem& item);

  // Where the crop leaves the image; the whole image without one.
  QRect cropArea() const;
  // The box an item covers (its text or badge measured).
  QRectF bounds(const MarkupItem& item) const;
  // The number a step badge shows: its place among the badges.
  int stepNumber(size_t index) const;

  // Draws every item but the crop, in image pixels, anti-aliased. A
  // pixelation shows `image` (the capture) in cells of their average colour.
  void paint(QPainter& painter, const QImage& image) const;
  void paintItem(QPainter& painter, size_t index, const QImage& image) const;
  // The image with every item drawn at its full resolution, then cropped.
  // Redacted pixels are filled opaque, with no trace of what was under them;
  // pixelated ones hold their cell's average colour and change nothing else.
  QImage flattened(const QImage& image) const;
  // The pixels each redaction blacks out, in drawing order.
  std::vector<QRect> redactedAreas() const;

 private:
  // One change to the list of items: undo applies it backwards, redo forwards.
  struct Change {
    enum class Kind { insert, erase, set };
    Kind kind = Kind::set;
    size_t index = 0;
    MarkupItem before;  // what an erase or a set took away
    MarkupItem after;   // what an insert or a set put there
  };
  using Step = std::vector<Change>;

  void record();
  void note(Change change);
  void changed();
  static void apply(std::vector<MarkupItem>& items, const Change& change, bool forward);

  QSize imageSize_;
  std::vector<MarkupItem> items_;
  std::vector<Step> undo_;
  std::vector<Step> redo_;
  std::optional<size_t> selected_;
  bool inGesture_ = false;
};

// A box two points span, whatever their order.
QRectF spanned(QPointF a, QPointF b);
// The pixels a redaction or a pixelation covers: every pixel its box touches, whole.
QRect redactedPixels(const MarkupItem& item);
// The bold font of text and step badges at this pixel size.
QFont textFont(double pixels);

}  // namespace lumacap
