// The mark-up of an image without a window: items, hit-testing, editing,
// undo and redo, crop and the flattened pixels.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>

#include "app/model/MarkupModel.h"
#include "platform/ImageCoding.h"
#include "support/MarkupPixels.h"

namespace lumacap {
namespace {

QImage grey(QSize size) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(QColor(200, 200, 200));
  return image;
}

// A pattern with no two neighbouring pixels alike, so that a redaction that
// leaves anything through shows.
QImage noisy(QSize size) {
  QImage image(size, QImage::Format_RGB32);
  for (int y = 0; y < size.height(); ++y) {
    for (int x = 0; x < size.width(); ++x)
      image.setPixel(x, y, qRgb((x * 37) % 256, (y * 91) % 256, (x ^ y) % 256));
  }
  return image;
}

MarkupItem item(MarkupKind kind, QPointF from, QPointF to, QColor colour = Qt::red) {
  return {kind, from, to, colour, 1, {}, {}};
}

// How many pixels of the row are red: the thickness a stroke crosses it with.
int redRun(const QImage& image, int column, int fromRow, int toRow) {
  int run = 0;
  for (int y = fromRow; y < toRow; ++y) run += reddish(image.pixel(column, y)) ? 1 : 0;
  return run;
}

TEST(MarkupModel, ItemsAreHitAtTheirStrokesTopmostFirst) {
  MarkupModel model(QSize(400, 300));
  const size_t box = model.add(item(MarkupKind::rectangle, {50, 50}, {250, 200}));
  const size_t arrow = model.add(item(MarkupKind::arrow, {100, 100}, {200, 100}));
  const size_t badge = model.add(item(MarkupKind::step, {300, 250}, {300, 250}));

  EXPECT_EQ(model.itemAt({150, 101}, 2), arrow);
  EXPECT_EQ(model.itemAt({50, 120}, 2), box);            // the outline
  EXPECT_EQ(model.itemAt({150, 160}, 2), std::nullopt);  // what a box surrounds stays reachable
  EXPECT_EQ(model.itemAt({305, 255}, 2), badge);
  EXPECT_EQ(model.itemAt({20, 20}, 2), std::nullopt);
  // Where two meet, the one drawn last wins.
  model.add(item(MarkupKind::highlighter, {40, 90}, {120, 110}));
  EXPECT_EQ(model.itemAt({110, 100}, 2), 3u);
}

TEST(MarkupModel, StepBadgesNumberThemselvesInOrder) {
  MarkupModel model(QSize(400, 300));
  model.add(item(MarkupKind::step, {10, 10}, {10, 10}));
  model.add(item(MarkupKind::arrow, {0, 0}, {50, 50}));
  model.add(item(MarkupKind::step, {60, 10}, {60, 10}));
  model.add(item(MarkupKind::step, {90, 10}, {90, 10}));
  EXPECT_EQ(model.stepNumber(3), 3);
  model.remove(0);
  EXPECT_EQ(model.stepNumber(1), 1);
  EXPECT_EQ(model.stepNumber(2), 2);
}

TEST(MarkupModel, ItemsMoveAndResizeByTheirHandles) {
  MarkupModel model(QSize(400, 300));
  const size_t box = model.add(item(MarkupKind::rectangle, {50, 50}, {150, 100}));
  model.moveBy(box, {10, 20});
  EXPECT_EQ(model.items()[box].from, QPointF(60, 70));
  EXPECT_EQ(model.items()[box].to, QPointF(160, 120));

  EXPECT_EQ(model.handleAt(box, {161, 71}, 3), MarkupHandle::topRight);
  model.resize(box, MarkupHandle::topRight, {200, 40});
  EXPECT_EQ(model.bounds(model.items()[box]), QRectF(60, 40, 140, 80));

  const size_t arrow = model.add(item(MarkupKind::arrow, {10, 10}, {40, 40}));
  EXPECT_EQ(model.handleAt(arrow, {40, 39}, 3), MarkupHandle::to);
  model.resize(arrow, MarkupHandle::to, {90, 10});
  EXPECT_EQ(model.items()[arrow].to, QPointF(90, 10));
  EXPECT_EQ(model.items()[arrow].from, QPointF(10, 10));
}

TEST(MarkupModel, UndoAndRedoWalkEveryChangeAndADragIsOneStep) {
  MarkupModel model(QSize(400, 300));
  EXPECT_FALSE(model.edited());
  const size_t box = model.add(item(MarkupKind::rectangle, {0, 0}, {100, 100}));
  model.beginGesture();
  for (int step = 0; step < 10; ++step) model.moveBy(box, {1, 1});
  model.endGesture();
  model.remove(box);
  EXPECT_TRUE(model.items().empty());

  model.undo();
  ASSERT_EQ(model.items().size(), 1u);
  EXPECT_EQ(model.items()[0].from, QPointF(10, 10));
  model.undo();  // the whole drag at once
  EXPECT_EQ(model.items()[0].from, QPointF(0, 0));
  model.undo();
  EXPECT_TRUE(model.items().empty());
  EXPECT_FALSE(model.canUndo());

  model.redo();
  model.redo();
  EXPECT_EQ(model.items()[0].from, QPointF(10, 10));
  // A new change forgets what could be redone.
  model.add(item(MarkupKind::arrow, {0, 0}, {5, 5}));
  EXPECT_FALSE(model.canRedo());

  // A drag that moved nothing leaves no step, nor does a mark drawn and
  // dropped as too small; but a drag still forgets what could be redone.
  const size_t steps = model.items().size();
  model.beginGesture();
  model.endGesture();
  model.beginGesture();
  const size_t dropped = model.add(item(MarkupKind::rectangle, {1, 1}, {1, 1}));
  model.replace(dropped, item(MarkupKind::rectangle, {1, 1}, {2, 2}));
  model.remove(dropped);
  model.endGesture();
  model.undo();
  EXPECT_EQ(model.items().size(), steps - 1);
  model.beginGesture();
  model.endGesture();
  EXPECT_FALSE(model.canRedo());
}

// Undo keeps what each step changed, not a copy of every item: the history
// grows with the steps, however many items there are.
TEST(MarkupModel, TheHistoryHoldsChangesNotCopies) {
  MarkupModel model(QSize(400, 300));
  for (int index = 0; index < 400; ++index) model.add(item(MarkupKind::arrow, {0, 0}, {index + 5.0, 5}));
  model.beginGesture();
  for (int step = 0; step < 50; ++step) model.moveBy(0, {1, 1});
  model.endGesture();
  model.add(item(MarkupKind::crop, {10, 10}, {200, 200}));
  model.add(item(MarkupKind::crop, {20, 20}, {300, 250}));
  EXPECT_LE(model.historyLength(), 405u);
  while (model.canUndo()) model.undo();
  EXPECT_TRUE(model.items().empty());
  EXPECT_LE(model.historyLength(), 405u);
  while (model.canRedo()) model.redo();
  ASSERT_EQ(model.items().size(), 401u);
  EXPECT_EQ(model.items()[0].from, QPointF(50, 50));
  EXPECT_EQ(model.items()[399].to, QPointF(404, 5));
  EXPECT_EQ(model.cropArea(), QRect(20, 20, 280, 230));
}

TEST(MarkupModel, OneCropAtATimeInsideTheImage) {
  MarkupModel model(QSize(400, 300));
  EXPECT_EQ(model.cropArea(), QRect(0, 0, 400, 300));
  model.add(item(MarkupKind::crop, {300, 200}, {100, 50}));
  EXPECT_EQ(model.cropArea(), QRect(100, 50, 200, 150));
  model.add(item(MarkupKind::crop, {-50, -50}, {120, 80}));
  EXPECT_EQ(model.items().size(), 1u);
  EXPECT_EQ(model.cropArea(), QRect(0, 0, 120, 80));
  model.undo();
  EXPECT_EQ(model.cropArea(), QRect(100, 50, 200, 150));
}

TEST(MarkupModel, FlatteningDrawsItemsAndCrops) {
  MarkupModel model(QSize(400, 300));
  model.add(item(MarkupKind::rectangle, {100, 100}, {200, 200}));
  model.add(item(MarkupKind::highlighter, {250, 20}, {350, 60}, QColor(255, 204, 0)));
  model.add(item(MarkupKind::line, {20, 280}, {380, 280}));
  model.add(item(MarkupKind::ellipse, {250, 100}, {350, 200}));
  MarkupItem pen = item(MarkupKind::pen, {20, 20}, {20, 20});
  pen.path = {{20, 20}, {40, 60}, {60, 20}};
  const size_t stroke = model.add(pen);
  const QImage flat = model.flattened(grey({400, 300}));
  ASSERT_EQ(flat.size(), QSize(400, 300));
  EXPECT_TRUE(reddish(flat.pixel(150, 100)));            // on the outline
  EXPECT_EQ(flat.pixel(150, 150), qRgb(200, 200, 200));  // inside it, untouched
  EXPECT_EQ(flat.pixel(10, 10), qRgb(200, 200, 200));
  EXPECT_TRUE(reddish(flat.pixel(200, 280)));
  EXPECT_TRUE(reddish(flat.pixel(250, 150)) && reddish(flat.pixel(300, 200)));
  EXPECT_EQ(flat.pixel(300, 150), qRgb(200, 200, 200));  // inside the ellipse
  EXPECT_TRUE(reddish(flat.pixel(40, 58)) && reddish(flat.pixel(30, 40)));
  EXPECT_EQ(flat.pixel(40, 30), qRgb(200, 200, 200));  // between the pen's two strokes
  // A pen stroke is hit along its path and moves as a whole.
  EXPECT_EQ(model.itemAt({50, 40}, 2), stroke);
  EXPECT_EQ(model.itemAt({40, 30}, 2), std::nullopt);
  model.moveBy(stroke, {5, 0});
  EXPECT_EQ(model.items()[stroke].path[1], QPointF(45, 60));
  // The highlighter tints what is under it and lets it show.
  const QRgb marked = flat.pixel(300, 40);
  EXPECT_GT(qRed(marked), qBlue(marked) + 40);
  EXPECT_GT(qBlue(marked), 60);

  model.add(item(MarkupKind::crop, {90, 90}, {210, 210}));
  const QImage cropped = model.flattened(grey({400, 300}));
  ASSERT_EQ(cropped.size(), QSize(120, 120));
  EXPECT_TRUE(reddish(cropped.pixel(60, 10)));
}

// The same mark on the same screen at twice the density covers the same
// part of the picture: twice as many pixels.
TEST(MarkupModel, StrokesScaleWithTheImageDensity) {
  MarkupModel single(QSize(1512, 982));
  single.add(item(MarkupKind::arrow, {100, 400}, {1000, 400}));
  const QImage one = single.flattened(grey({1512, 982}));
  MarkupModel twice(QSize(3024, 1964));
  twice.add(item(MarkupKind::arrow, {200, 800}, {2000, 800}));
  const QImage two = twice.flattened(grey({3024, 1964}));

  const int thin = redRun(one, 500, 380, 420);
  const int thick = redRun(two, 1000, 760, 840);
  EXPECT_GE(thin, 4);
  EXPECT_NEAR(thick, 2 * thin, 2);
  // The head is wider than the shaft, at both densities.
  EXPECT_GT(redRun(one, 982, 370, 430), 2 * thin);
  EXPECT_GT(redRun(two, 1964, 740, 860), 2 * thick);
}

TEST(MarkupModel, TextAndBadgesAreDrawn) {
  MarkupModel model(QSize(400, 300));
  MarkupItem label = item(MarkupKind::text, {20, 20}, {20, 20});
  label.text = QStringLiteral("this one");
  model.add(label);
  model.add(item(MarkupKind::step, {300, 200}, {300, 200}, QColor(0, 122, 255)));
  const QImage flat = model.flattened(grey({400, 300}));
  const QRectF text = model.bounds(model.items()[0]);
  EXPECT_GT(text.width(), 40);
  int red = 0;
  for (int x = int(text.left()); x < int(text.right()); ++x)
    red += redRun(flat, x, int(text.top()), int(text.bottom()));
  EXPECT_GT(red, 50);
  EXPECT_EQ(flat.pixel(300 + int(model.badgeRadius(1)) - 4, 200), qRgb(0, 122, 255));
}

// A redaction hides every pixel it touches, and the PNG written holds only
// the box: no layer, no original, no text chunk.
TEST(MarkupModel, RedactedPixelsAreOpaqueInThePngWritten) {
  const QImage original = noisy({300, 200});
  MarkupModel model(original.size());
  model.add(item(MarkupKind::redact, {40.4, 30.6}, {140.5, 80.2}, QColor(255, 0, 0, 40)));
  const QByteArray png = encodePNG(model.flattened(original));
  ASSERT_FALSE(png.isEmpty());

  QBuffer buffer;
  buffer.setData(png);
  QImageReader reader(&buffer, "png");
  EXPECT_TRUE(reader.textKeys().isEmpty());
  const QImage read = reader.read().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(read.size(), original.size());
  for (int y = 30; y <= 80; ++y) {
    for (int x = 40; x <= 140; ++x) ASSERT_EQ(read.pixel(x, y), qRgba(0, 0, 0, 255)) << x << "," << y;
  }
  EXPECT_EQ(read.pixel(39, 50), original.pixel(39, 50));
  EXPECT_EQ(read.pixel(141, 50), original.pixel(141, 50));
  EXPECT_EQ(read.pixel(100, 81), original.pixel(100, 81));
}

// Pixelation averages whole cells inside its box and changes nothing outside
// it; undone, the image is the original again.
TEST(MarkupModel, PixelationChangesOnlyThePixelsItCovers) {
  const QImage original = noisy({300, 200});
  MarkupModel model(original.size());
  model.add(item(MarkupKind::pixelate, {40.4, 30.6}, {140.5, 80.2}));
  const QImage flat = model.flattened(original);
  const QRect box(40, 30, 101, 51);
  const int cell = model.cellSize(1);
  ASSERT_GT(cell, 2);
  int changed = 0;
  for (int y = 0; y < original.height(); ++y) {
    for (int x = 0; x < original.width(); ++x) {
      if (!box.contains(x, y)) {
        ASSERT_EQ(flat.pixel(x, y), original.pixel(x, y)) << x << "," << y;
        continue;
      }
      changed += flat.pixel(x, y) != original.pixel(x, y) ? 1 : 0;
      const QPoint corner(40 + (x - 40) / cell * cell, 30 + (y - 30) / cell * cell);
      ASSERT_EQ(flat.pixel(x, y), flat.pixel(corner)) << x << "," << y;
    }
  }
  EXPECT_GT(changed, box.width() * box.height() * 9 / 10);
  int green = 0;  // the first cell holds the average of what it covers
  for (int y = 30; y < 30 + cell; ++y) green += qGreen(original.pixel(40, y));
  EXPECT_EQ(qGreen(flat.pixel(40, 30)), green / cell);
  model.undo();
  EXPECT_EQ(model.flattened(original), original);
}

// An image with transparency stays so, except under a redaction.
TEST(MarkupModel, RedactionIsOpaqueOnTransparentImages) {
  QImage clear(QSize(100, 100), QImage::Format_ARGB32);
  clear.fill(Qt::transparent);
  MarkupModel model(clear.size());
  model.add(item(MarkupKind::redact, {10, 10}, {30, 30}));
  const QImage flat = model.flattened(clear);
  EXPECT_EQ(flat.pixel(20, 20), qRgba(0, 0, 0, 255));
  EXPECT_EQ(qAlpha(flat.pixel(50, 50)), 0);
}

}  // namespace
}  // namespace lumacap
