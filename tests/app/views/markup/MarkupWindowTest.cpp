// The mark-up window on a capture in hand, driven with the pointer and keys:
// what "Done" puts on the clipboard and in the history, and the way back.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "app/views/markup/MarkupWindow.h"
#include "app/views/ScreenshotPreview.h"
#include "support/MarkupPixels.h"
#include "support/ModelHarness.h"

namespace lumacap {
namespace {

using test::awaitTask;
using test::processEventsUntil;

int redPixels(const QImage& image, const QRect& area) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) count += reddish(image.pixel(x, y)) ? 1 : 0;
  }
  return count;
}

class MarkupWindowTest : public ::testing::Test {
 protected:
  MarkupWindowTest() : model(harness.start()) {
    awaitTask(model.capture(CaptureMode::display));
    model.showPreview();
    EXPECT_TRUE(QTest::qWaitForWindowActive(harness.windows->previewWindow()));
    original = model.image();
  }

  ScreenshotPreview& preview() { return static_cast<ScreenshotPreview&>(*harness.windows->previewWindow()); }
  MarkupWindow& window() { return *harness.windows->markupWindow(); }

  void openFromPreview() {
    preview().markupButton()->click();
    ASSERT_TRUE(harness.windows->markupWindow());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
  }

  // A drag with the left button from one point of the image to another.
  void drag(QPointF from, QPointF to) {
    MarkupCanvas& canvas = window().canvas();
    const QPointF start = canvas.toWidget(from);
    const QPointF end = canvas.toWidget(to);
    QTest::mousePress(&canvas, Qt::LeftButton, {}, start.toPoint());
    for (int step = 1; step <= 5; ++step) {
      const QPointF at = start + (end - start) * step / 5;
      QMouseEvent move(QEvent::MouseMove, at, canvas.mapToGlobal(at), Qt::NoButton, Qt::LeftButton, {});
      QApplication::sendEvent(&canvas, &move);
    }
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, end.toPoint());
  }

  void key(int key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(&window().canvas(), static_cast<Qt::Key>(key), modifiers);
  }

  test::ModelHarness harness;
  AppModel& model;
  QImage original;
};

TEST_F(MarkupWindowTest, TheImageAndItsButtonOpenTheWindowOnTheCapture) {
  preview().imageButton()->click();
  ASSERT_TRUE(harness.windows->markupWindow());
  EXPECT_TRUE(window().isVisible());
  EXPECT_EQ(window().image(), original);
  EXPECT_EQ(window().tool(), MarkupKind::arrow);
  EXPECT_EQ(window().colour(), MarkupWindow::colours().front());
  EXPECT_LT(window().canvas().zoom(), 1);  // larger than the screen

  // Done with nothing drawn leaves the capture as it was.
  const int writes = harness.pasteboard.writes();
  window().doneButton()->click();
  EXPECT_FALSE(window().isVisible());
  EXPECT_FALSE(model.markedUp());
  EXPECT_EQ(harness.pasteboard.writes(), writes);
}

TEST_F(MarkupWindowTest, ACaptureThatFitsIsShownAtActualSizeALargerOneFitted) {
  MarkupWindow markup;
  QImage image(300, 200, QImage::Format_RGB32);
  image.fill(Qt::white);
  markup.begin(image);
  markup.place(QRect(0, 0, 1600, 1000));
  EXPECT_EQ(markup.canvas().zoom(), 1);
  EXPECT_EQ(markup.canvas().size(), QSize(300, 200));
  EXPECT_LE(markup.height(), 800);

  markup.begin(original);
  markup.place(QRect(0, 0, 1600, 1000));
  EXPECT_EQ(markup.size(), QSize(1280, 800));
  markup.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&markup));
  EXPECT_LT(markup.canvas().zoom(), 1);
  EXPECT_LE(markup.canvas().width(), 1280);
  EXPECT_LE(markup.canvas().height(), 800);
  markup.zoomToActualSize();
  EXPECT_EQ(markup.canvas().size(), original.size());
  markup.zoomToFit();
  EXPECT_LE(markup.canvas().height(), 800);
}

TEST_F(MarkupWindowTest, DoneReplacesTheCaptureInHandAndRevertBringsItBack) {
  openFromPreview();
  drag({400, 1000}, {1400, 1000});
  key(Qt::Key_Return);
  EXPECT_FALSE(window().isVisible());
  EXPECT_TRUE(QTest::qWaitForWindowActive(harness.windows->previewWindow()));

  const QImage marked = model.image();
  ASSERT_EQ(marked.size(), original.size());
  EXPECT_GT(redPixels(marked, QRect(800, 980, 10, 40)), 40);
  EXPECT_EQ(marked.pixel(100, 100), original.pixel(100, 100));
  EXPECT_TRUE(model.markedUp());
  EXPECT_TRUE(preview().revertAction()->isEnabled());
  // The clipboard is offered the new image and its PNG.
  ASSERT_TRUE(harness.pasteboard.image());
  EXPECT_EQ(harness.pasteboard.image()->cacheKey(), marked.cacheKey());
  ASSERT_TRUE(processEventsUntil([&] { return !harness.pasteboard.png().isEmpty(); }));
  EXPECT_EQ(QImage::fromData(harness.pasteboard.png()).convertToFormat(QImage::Format_RGB32), marked);

  // Saving writes the marked-up image.
  awaitTask(model.save());
  ASSERT_EQ(model.records().size(), 1u);
  const QImage saved(QString::fromStdString(model.store()->url(model.records().front()).string()));
  EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), marked);

  preview().revertAction()->trigger();
  EXPECT_EQ(model.image(), original);
  EXPECT_FALSE(model.markedUp());
  EXPECT_FALSE(preview().revertAction()->isEnabled());
  EXPECT_EQ(harness.pasteboard.image()->cacheKey(), original.cacheKey());
  EXPECT_EQ(preview().footer()->text(), "Original copied · without your mark-up");
  EXPECT_FALSE(model.savedID());  // the saved record holds the marked-up image

  // With a redaction, Revert asks first.
  openFromPreview();
  key(Qt::Key_X);
  drag({400, 400}, {800, 500});
  key(Qt::Key_Return);
  const qint64 redacted = model.image().cacheKey();
  preview().revertAction()->trigger();
  QMessageBox* question = preview().findChild<QMessageBox*>();
  ASSERT_TRUE(question && question->isVisible());
  EXPECT_EQ(question->text(), "Bring back the original, unredacted capture?");
  EXPECT_EQ(model.image().cacheKey(), redacted);
  for (QAbstractButton* button : question->buttons()) {
    if (button->text() == "Revert") button->click();
  }
  EXPECT_EQ(model.image(), original);
  EXPECT_EQ(harness.pasteboard.image()->cacheKey(), original.cacheKey());
  EXPECT_EQ(preview().footer()->text(), "Original copied · what you redacted shows again");
}

TEST_F(MarkupWindowTest, KeysChooseToolsUndoRedoAndDelete) {
  openFromPreview();
  key(Qt::Key_R);
  EXPECT_EQ(window().tool(), MarkupKind::rectangle);
  drag({500, 500}, {900, 800});
  key(Qt::Key_X);
  drag({1000, 500}, {1200, 600});
  ASSERT_EQ(window().model().items().size(), 2u);
  EXPECT_EQ(window().model().items()[0].kind, MarkupKind::rectangle);
  EXPECT_EQ(window().model().items()[1].kind, MarkupKind::redact);

  key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(window().model().items().size(), 1u);
  key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(window().model().items().size(), 2u);

  // A click on the box's outline selects it; a drag moves it; Delete removes it.
  key(Qt::Key_A);
  drag({500, 650}, {550, 700});
  const QPointF moved = window().model().items()[0].from;
  const double pixel = 2 / window().canvas().zoom();  // one screen pixel, rounded
  EXPECT_NEAR(moved.x(), 550, pixel);
  EXPECT_NEAR(moved.y(), 550, pixel);
  key(Qt::Key_Delete);
  ASSERT_EQ(window().model().items().size(), 1u);
  EXPECT_EQ(window().model().items()[0].kind, MarkupKind::redact);

  // Keys wait while a button is held: the arrow being drawn stays.
  MarkupCanvas& canvas = window().canvas();
  QTest::mousePress(&canvas, Qt::LeftButton, {}, canvas.toWidget({100, 100}).toPoint());
  key(Qt::Key_Z, Qt::ControlModifier);
  const QPointF end = canvas.toWidget({600, 600});
  QMouseEvent move(QEvent::MouseMove, end, canvas.mapToGlobal(end), Qt::NoButton, Qt::LeftButton, {});
  QApplication::sendEvent(&canvas, &move);
  QTest::mouseRelease(&canvas, Qt::LeftButton, {}, end.toPoint());
  ASSERT_EQ(window().model().items().size(), 2u);
  EXPECT_EQ(window().model().items()[1].kind, MarkupKind::arrow);

  // The pen follows every move; pixelation's tip says it is no redaction.
  key(Qt::Key_P);
  drag({1000, 1000}, {1400, 1100});
  ASSERT_EQ(window().model().items().size(), 3u);
  EXPECT_EQ(window().model().items()[2].path.size(), 6u);
  key(Qt::Key_B);
  EXPECT_EQ(window().tool(), MarkupKind::pixelate);
  for (QToolButton* button : window().findChildren<QToolButton*>()) {
    if (button->text() == "Pixelate") {
      EXPECT_TRUE(button->toolTip().contains("opaque box"));
    }
  }
}

TEST_F(MarkupWindowTest, RedactionsAskedForAreUndoableItemsAndOpaqueWhenApplied) {
  // The tool chosen last time was Crop: redactions asked for choose Redact.
  openFromPreview();
  key(Qt::Key_C);
  key(Qt::Key_Escape);
  model.openMarkup({Rect{100, 200, 300, 40}, Rect{100, 300, 200, 40}});
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
  ASSERT_EQ(window().model().items().size(), 2u);
  EXPECT_EQ(window().tool(), MarkupKind::redact);
  key(Qt::Key_Z, Qt::ControlModifier);
  ASSERT_EQ(window().model().items().size(), 1u);
  // Asked again while the window is open on this capture: added to what is there.
  model.openMarkup({Rect{600, 600, 50, 50}});
  EXPECT_EQ(window().model().items().size(), 2u);

  window().doneButton()->click();
  const QImage flat = model.image();
  EXPECT_EQ(flat.pixel(150, 210), qRgb(0, 0, 0));
  EXPECT_EQ(flat.pixel(620, 620), qRgb(0, 0, 0));
  EXPECT_EQ(flat.pixel(150, 310), original.pixel(150, 310));  // undone
}

TEST_F(MarkupWindowTest, EscapeAsksBeforeDroppingEdits) {
  openFromPreview();
  key(Qt::Key_Escape);
  EXPECT_FALSE(window().isVisible());  // nothing to lose

  openFromPreview();
  drag({400, 400}, {800, 800});
  key(Qt::Key_Escape);
  QMessageBox* question = window().findChild<QMessageBox*>();
  ASSERT_TRUE(question);
  EXPECT_EQ(question->text(), "Discard your mark-up?");
  EXPECT_TRUE(window().isVisible());
  for (QAbstractButton* button : question->buttons()) {
    if (button->text() == "Discard") button->click();
  }
  EXPECT_FALSE(window().isVisible());
  EXPECT_EQ(model.image(), original);
  EXPECT_FALSE(model.markedUp());
}

TEST_F(MarkupWindowTest, ANewCaptureOrADiscardClosesTheWindowAndForgetsTheOriginal) {
  openFromPreview();
  drag({400, 400}, {800, 800});
  window().apply();
  ASSERT_TRUE(model.markedUp());
  model.openMarkup();
  awaitTask(model.capture(CaptureMode::display));
  EXPECT_FALSE(model.markedUp());
  EXPECT_FALSE(window().isVisible());
  EXPECT_FALSE(preview().revertAction()->isEnabled());

  // Dropping the capture takes the window with it.
  model.showPreview();
  openFromPreview();
  model.discard();
  EXPECT_FALSE(window().isVisible());
}

TEST_F(MarkupWindowTest, TextIsTypedOnTheImage) {
  openFromPreview();
  key(Qt::Key_T);
  const QPointF at = window().canvas().toWidget({600, 600});
  QTest::mouseClick(&window().canvas(), Qt::LeftButton, {}, at.toPoint());
  QWidget* editor = QApplication::focusWidget();
  ASSERT_TRUE(editor && editor != &window().canvas());
  QTest::keyClicks(editor, "this one");
  QTest::keyClick(editor, Qt::Key_Return);
  EXPECT_TRUE(window().isVisible());  // Return ends the text, not the mark-up
  ASSERT_EQ(window().model().items().size(), 1u);
  EXPECT_EQ(window().model().items()[0].text, "this one");

  // Escape ends the text and keeps it, as a step of undo.
  QTest::mouseClick(&window().canvas(), Qt::LeftButton, {}, window().canvas().toWidget({600, 750}).toPoint());
  QTest::keyClicks(QApplication::focusWidget(), "kept");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_TRUE(window().isVisible());
  ASSERT_EQ(window().model().items().size(), 2u);
  EXPECT_EQ(window().model().items()[1].text, "kept");
  key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(window().model().items().size(), 1u);
  key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(window().model().items().size(), 2u);

  // Ctrl+Return ends the text and applies.
  QTest::mouseClick(&window().canvas(), Qt::LeftButton, {}, window().canvas().toWidget({600, 900}).toPoint());
  QTest::keyClicks(QApplication::focusWidget(), "and this");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, Qt::ControlModifier);
  EXPECT_FALSE(window().isVisible());
  EXPECT_TRUE(model.markedUp());
  EXPECT_EQ(window().model().items().size(), 3u);
}

}  // namespace
}  // namespace lumacap
