// The views of a capture: the thumbnail card, the preview and the window chooser.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "app/views/QuickCaptureView.h"
#include "app/views/ScreenshotPreview.h"
#include "app/views/WindowChooser.h"
#include "support/ModelHarness.h"

namespace lumacap {
namespace {

using test::awaitTask;
using test::processEventsUntil;

// The thumbnail card and the preview, driven with keys and clicks.
class CaptureViewsTest : public ::testing::Test {
 protected:
  CaptureViewsTest() : model(harness.start()) {
    awaitTask(model.capture(CaptureMode::display));
    model.showPreview();
    processEventsUntil([&] { return !harness.registry->refreshing(); });
    EXPECT_TRUE(QTest::qWaitForWindowActive(model.previewWindow()));
  }

  ScreenshotPreview& preview() { return static_cast<ScreenshotPreview&>(*model.previewWindow()); }
  QuickCaptureView& card() { return static_cast<CaptureReceiptPanel&>(*model.quickWindow()).view(); }
  QString mainLabel() { return preview().mainButtonLabel()->text(); }
  // A live session, listed and chosen in the preview.
  void chooseSession(const std::string& id, int32_t pid) {
    const AgentSession session{id, "/work/" + id, ProcessIdentity{pid, "claude", "t"}, "XTerm", 1, Date{1}};
    harness.processes.add(session.process);
    SessionRepository(harness.dataRoot()).write(session);
    awaitTask(model.refreshDestinations(false));
    model.setDestinationID(QString::fromStdString(id));
  }

  test::ModelHarness harness;
  AppModel& model;
};

TEST_F(CaptureViewsTest, MainButtonSaysWhatItWillDo) {
  EXPECT_EQ(mainLabel(), "Copy image");
  QTest::keyClicks(preview().messageField(), "  ");
  EXPECT_EQ(mainLabel(), "Copy image");  // blank is nothing to say
  QTest::keyClicks(preview().messageField(), "x");
  EXPECT_EQ(mainLabel(), "Copy prompt + path");

  chooseSession("app", 900);
  EXPECT_EQ(preview().destinationMenu()->text(), "Claude Code · app");
  model.setPrompt({});
  EXPECT_EQ(mainLabel(), "Stage for Claude");

  // A chosen destination that is no longer listed reads as the clipboard.
  model.setDestinationID("gone");
  EXPECT_EQ(preview().destinationMenu()->text(), "Clipboard");
}

TEST_F(CaptureViewsTest, CopyImageSavesNothingAndHidesThePreview) {
  QTest::keyClick(preview().messageField(), Qt::Key_Return);
  EXPECT_TRUE(model.records().empty());
  EXPECT_FALSE(preview().isVisible());
  EXPECT_TRUE(model.quickWindow()->isVisible());
  EXPECT_EQ(model.status(), "Image copied · paste it in your agent");
}

TEST_F(CaptureViewsTest, ReturnInTheNameOnlyMovesOnAndEscapeDiscards) {
  preview().filenameField()->setFocus();
  QTest::keyClick(preview().filenameField(), Qt::Key_Return);
  EXPECT_TRUE(preview().isVisible());
  EXPECT_TRUE(preview().messageField()->hasFocus());

  QTest::keyClick(&preview(), Qt::Key_Escape);
  EXPECT_TRUE(model.image().isNull());
  EXPECT_FALSE(preview().isVisible());
}

TEST_F(CaptureViewsTest, CtrlSSavesFromTheMessageAndTheTextsFollow) {
  EXPECT_EQ(preview().footer()->text(), "Already copied. Paste whenever you’re ready.");
  EXPECT_EQ(card().header()->text(), "Copied");
  EXPECT_EQ(card().saveButton()->text(), "Save");

  QTest::keyClick(preview().messageField(), Qt::Key_S, Qt::ControlModifier);
  ASSERT_TRUE(processEventsUntil([&] { return model.savedID().has_value(); }));
  EXPECT_EQ(preview().footer()->text(), "Saved locally. Ready to paste.");
  EXPECT_EQ(card().header()->text(), "Ready");
  EXPECT_EQ(card().saveButton()->text(), "Saved");
  EXPECT_FALSE(card().saveButton()->isEnabled());
  EXPECT_TRUE(preview().messageField()->toPlainText().isEmpty());
}

TEST_F(CaptureViewsTest, ErrorsShowInPlaceOfTheHints) {
  std::filesystem::remove_all(harness.dataRoot());
  std::filesystem::create_directories(harness.dataRoot() / "history.json");  // saving cannot write the index
  card().saveButton()->click();
  ASSERT_TRUE(processEventsUntil([&] { return model.error().has_value(); }));
  EXPECT_EQ(preview().footer()->text(), *model.error());
  const QString shown = card().hint()->text();
  EXPECT_TRUE(shown == *model.error() || card().hint()->toolTip() == *model.error()) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(model.error()->right(12))) << shown.toStdString();

  // A long error keeps its cause within the card's two lines.
  const QString error =
      "Could not write “" + QString(120, 'x') + "/Captures/capture.png”: No space left on device";
  const QFontMetrics metrics = card().hint()->fontMetrics();
  const QString fitted = QuickCaptureView::fitted(error, metrics, 200, 2);
  EXPECT_TRUE(fitted.startsWith("Could not write “") && fitted.contains("…")) << fitted.toStdString();
  EXPECT_TRUE(fitted.endsWith("No space left on device")) << fitted.toStdString();
  EXPECT_LE(metrics.boundingRect(QRect(0, 0, 200, 10000), Qt::TextWordWrap, fitted).height(),
            2 * metrics.lineSpacing());
  EXPECT_EQ(QuickCaptureView::fitted("Short.", metrics, 200, 2), "Short.");
  EXPECT_EQ(card().header()->text(), "Copied");
  EXPECT_TRUE(card().saveButton()->isEnabled());
}

TEST_F(CaptureViewsTest, MainButtonIsDisabledWhileAStagingRuns) {
  chooseSession("api", 901);

  harness.processes.holdProbes();
  QTest::keyClick(preview().messageField(), Qt::Key_Return);
  ASSERT_TRUE(model.busy());
  EXPECT_FALSE(preview().mainButton()->isEnabled());
  QTest::keyClick(preview().messageField(), Qt::Key_Return);  // does nothing
  harness.processes.releaseProbes();
  ASSERT_TRUE(processEventsUntil([&] { return !model.busy(); }));
  EXPECT_EQ(model.records().size(), 1u);
  EXPECT_EQ(model.pasteHint(), "Staged · select the session and paste");
}

TEST_F(CaptureViewsTest, CardButtonsOpenThePreviewAndDismiss) {
  model.hideQuickCapture();
  preview().hide();
  model.copyImageAndReturn();
  ASSERT_TRUE(model.quickWindow()->isVisible());
  card().editButton()->click();
  EXPECT_TRUE(preview().isVisible());
  EXPECT_FALSE(model.quickWindow()->isVisible());

  model.copyImageAndReturn();
  card().dismissButton()->click();
  EXPECT_FALSE(model.quickWindow()->isVisible());
}

ShareableWindow window(uint32_t id, std::optional<std::string> title,
                       std::optional<std::string> application) {
  std::optional<OwningApplication> owner;
  if (application) owner = OwningApplication{static_cast<int32_t>(1000 + id), *application};
  return ShareableWindow{id, std::move(title), Rect{0, 0, 400, 300}, std::move(owner)};
}

class WindowChooserTest : public ::testing::Test {
 protected:
  WindowChooserTest() {
    chooser.resize(510, 480);
    chooser.show();
  }

  std::vector<uint32_t> chosen;
  WindowChooser chooser{[this](const ShareableWindow& window) { chosen.push_back(window.windowID); }};
};

TEST_F(WindowChooserTest, APlaceholderUntilThereAreWindowsThenARowNamingEach) {
  EXPECT_TRUE(chooser.placeholder()->isVisible());
  EXPECT_FALSE(chooser.list()->isVisible());
  chooser.setWindows(
      {window(1, std::nullopt, "XTerm"), window(2, "", std::nullopt), window(3, "Notes", "Kate")});
  EXPECT_FALSE(chooser.placeholder()->isVisible());
  QListWidget& list = *chooser.list();
  EXPECT_TRUE(list.isVisible());
  ASSERT_EQ(list.count(), 3);
  EXPECT_EQ(list.item(0)->text(), "Untitled window");
  EXPECT_EQ(list.item(1)->text(), "Untitled window");
  EXPECT_EQ(list.item(1)->data(WindowRowDelegate::applicationRole).toString(), "Application");
  EXPECT_EQ(list.item(2)->text(), "Notes");
  EXPECT_EQ(list.item(2)->data(WindowRowDelegate::applicationRole).toString(), "Kate");
}

// A click on a row is AppServicesIntegrationTest's, with the real pointer.
TEST_F(WindowChooserTest, ReturnChoosesTheSelectedRowsWindow) {
  chooser.setWindows({window(1, "a", "XTerm"), window(2, "b", "XTerm")});
  chooser.list()->setCurrentRow(1);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(chooser.list(), &press);
  EXPECT_EQ(chosen, std::vector<uint32_t>{2});
}

}  // namespace
}  // namespace lumacap
