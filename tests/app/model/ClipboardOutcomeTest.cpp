// What the views say about the clipboard when the desktop decides whether an
// offer reaches it: "Copied" only once it does.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QToolButton>

#include "app/views/QuickCaptureView.h"
#include "app/views/ScreenshotPreview.h"
#include "support/ModelHarness.h"

namespace lumacap {
namespace {

using test::awaitTask;
using test::processEventsUntil;
using Answer = FakePasteboard::Answer;

class ClipboardOutcomeTest : public ::testing::Test {
 protected:
  AppModel& capture(Answer answer) {
    AppModel& model = harness.model ? *harness.model : harness.start();
    harness.pasteboard.answerImages(answer);
    awaitTask(model.capture(CaptureMode::display));
    return model;
  }
  QuickCaptureView& card() {
    return static_cast<CaptureReceiptPanel&>(*harness.windows->quickWindow()).view();
  }
  ScreenshotPreview& preview() { return static_cast<ScreenshotPreview&>(*harness.windows->previewWindow()); }

  test::ModelHarness harness;
};

TEST_F(ClipboardOutcomeTest, ACaptureKeptOffTheClipboardSaysSoAndPointsToCopyImage) {
  AppModel& model = capture(Answer::refused);

  EXPECT_EQ(model.clipboardState(), AppModel::ClipboardState::notCopied);
  EXPECT_EQ(model.status(), "Image not copied · use Copy Image in the preview");
  EXPECT_EQ(card().header()->text(), "Not copied");
  EXPECT_EQ(card().hint()->text(), "Not on the clipboard · Edit, then Copy Image");
  EXPECT_TRUE(card().isVisible());

  // Edit opens the preview, which has the focus: its Copy Image reaches the clipboard.
  card().editButton()->click();
  ASSERT_TRUE(processEventsUntil([&] { return !harness.registry->refreshing(); }));
  EXPECT_EQ(preview().footer()->text(), "Not on the clipboard yet. Return copies it.");
  harness.pasteboard.answerImages(Answer::reached);
  for (QAction* action : preview().moreMenu()->actions())
    if (action->text() == "Copy Image") action->trigger();
  EXPECT_EQ(model.clipboardState(), AppModel::ClipboardState::copied);
  EXPECT_EQ(preview().footer()->text(), "Image copied · paste it in your agent");
  EXPECT_EQ(card().header()->text(), "Copied");
  EXPECT_EQ(model.pasteHint(), "Ready in your app · Ctrl+V to paste");
}

TEST_F(ClipboardOutcomeTest, CopiedWaitsForTheDesktopsAnswer) {
  AppModel& model = capture(Answer::later);
  EXPECT_EQ(card().header()->text(), "Copying…");
  EXPECT_NE(model.status(), "Image copied to clipboard");

  harness.pasteboard.answerPending(true);
  ASSERT_TRUE(processEventsUntil([&] { return model.clipboardState() == AppModel::ClipboardState::copied; }));
  EXPECT_EQ(card().header()->text(), "Copied");
  EXPECT_EQ(model.status(), "Image copied to clipboard");
}

TEST_F(ClipboardOutcomeTest, AnAnswerForAnEarlierCaptureChangesNothing) {
  AppModel& model = capture(Answer::later);
  awaitTask(model.capture(CaptureMode::display));  // the second offer waits for an answer too
  harness.pasteboard.answerPending(true);          // the first capture's
  QCoreApplication::processEvents();
  EXPECT_EQ(card().header()->text(), "Copying…");
  harness.pasteboard.answerPending(false);  // the second capture's
  ASSERT_TRUE(
      processEventsUntil([&] { return model.clipboardState() == AppModel::ClipboardState::notCopied; }));
  EXPECT_EQ(card().header()->text(), "Not copied");
}

TEST_F(ClipboardOutcomeTest, CopyFromTheHistoryReportsARefusal) {
  AppModel& model = capture(Answer::reached);
  awaitTask(model.save());
  ASSERT_EQ(model.records().size(), 1u);
  harness.pasteboard.answerImages(Answer::refused);
  awaitTask(model.copy(model.records().front()));
  EXPECT_EQ(model.status(), "Image not copied · the desktop kept it off the clipboard");
}

}  // namespace
}  // namespace lumacap
