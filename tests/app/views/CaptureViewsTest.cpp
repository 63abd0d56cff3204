// The views of a capture: the thumbnail card, the preview and the window chooser.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <fstream>

#include "app/views/Dialogs.h"
#include "app/views/PinWindow.h"
#include "app/views/QuickCaptureView.h"
#include "app/views/ScreenshotPreview.h"
#include "app/views/WindowChooser.h"
#include "app/views/markup/MarkupWindow.h"
#include "support/ModelHarness.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

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
    EXPECT_TRUE(QTest::qWaitForWindowActive(harness.windows->previewWindow()));
  }

  ScreenshotPreview& preview() { return static_cast<ScreenshotPreview&>(*harness.windows->previewWindow()); }
  QuickCaptureView& card() {
    return static_cast<CaptureReceiptPanel&>(*harness.windows->quickWindow()).view();
  }
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
  EXPECT_EQ(preview().footer()->text(), "Already copied. Paste whenever you’re ready.");
  QTest::keyClicks(preview().messageField(), "x");
  EXPECT_EQ(mainLabel(), "Copy prompt + path");
  EXPECT_EQ(preview().footer()->text(), "Return copies the file’s path and your message.");

  chooseSession("app", 900);
  EXPECT_EQ(preview().destinationMenu()->text(), "Claude Code · app");
  model.setPrompt({});
  EXPECT_EQ(mainLabel(), "Stage for Claude");
  EXPECT_EQ(preview().footer()->text(), "Return stages it for the session.");

  // Once the session is no longer listed, the menu and the button agree.
  harness.processes.remove(900);
  awaitTask(harness.registry->refresh(std::nullopt));
  EXPECT_EQ(preview().destinationMenu()->text(), "Clipboard");
  EXPECT_EQ(mainLabel(), "Copy image");
}

TEST_F(CaptureViewsTest, CopyImageSavesNothingAndHidesThePreview) {
  QTest::keyClick(preview().messageField(), Qt::Key_Return);
  EXPECT_TRUE(model.records().empty());
  EXPECT_FALSE(preview().isVisible());
  EXPECT_TRUE(harness.windows->quickWindow()->isVisible());
  EXPECT_EQ(model.status(), "Image copied · paste it in your agent");
}

// The window is named after the capture; Copy Image and a finished Save As…
// say in the status line what they did, until the capture is saved.
TEST_F(CaptureViewsTest, TitleNamesTheCaptureAndTheStatusLineWhatTheMenuDid) {
  model.setFilename("main-function.png");
  EXPECT_EQ(preview().windowTitle(), "main-function.png — Lumacap");

  auto choose = [&](const QString& title) {
    for (QAction* action : preview().moreMenu()->actions())
      if (action->text() == title) action->trigger();
  };
  choose("Copy Image");
  EXPECT_EQ(preview().footer()->text(), "Image copied · paste it in your agent");
  harness.prompts.exportAnswer = harness.root / "copy.png";
  choose("Save As…");
  ASSERT_TRUE(processEventsUntil([&] { return preview().footer()->text() == "Saved to copy.png"; }))
      << preview().footer()->text().toStdString();

  QTest::keyClick(preview().messageField(), Qt::Key_S, Qt::ControlModifier);
  ASSERT_TRUE(processEventsUntil([&] { return model.savedID().has_value(); }));
  EXPECT_EQ(preview().footer()->text(), "Saved locally. Ready to paste.");
}

// The question Escape (or closing the window) asks; null when none is open.
QMessageBox* openQuestion(QWidget& window) {
  for (auto* box : window.findChildren<QMessageBox*>()) {
    if (box->isVisible()) return box;
  }
  return nullptr;
}

void answer(QMessageBox& question, const QString& button) {
  for (QAbstractButton* candidate : question.buttons()) {
    if (candidate->text() == button) return candidate->click();
  }
  ADD_FAILURE() << "no button " << button.toStdString();
}

TEST_F(CaptureViewsTest, ReturnInTheNameOnlyMovesOnAndEscapeDiscards) {
  preview().filenameField()->setFocus();
  QTest::keyClick(preview().filenameField(), Qt::Key_Return);
  EXPECT_TRUE(preview().isVisible());
  EXPECT_TRUE(preview().messageField()->hasFocus());

  // With a message typed, Escape asks first.
  QTest::keyClicks(preview().messageField(), "why?");
  for (const char* reply : {"Keep Editing", "Discard"}) {
    QTest::keyClick(&preview(), Qt::Key_Escape);
    QMessageBox* question = openQuestion(preview());
    ASSERT_TRUE(question);
    EXPECT_FALSE(model.image().isNull());
    EXPECT_EQ(question->text(), "Discard this capture and your message?");
    EXPECT_EQ(question->defaultButton()->text(), "Keep Editing");
    answer(*question, reply);
  }
  EXPECT_TRUE(model.image().isNull());
  EXPECT_FALSE(preview().isVisible());
}

// Ctrl+Return runs the main button from every control of the window, the
// name field included.
TEST_F(CaptureViewsTest, CtrlReturnRunsTheMainButtonFromAnyControl) {
  for (QWidget* control :
       std::vector<QWidget*>{preview().filenameField(), preview().messageField(), preview().destinationMenu(),
                             preview().saveButton(), preview().moreButton()}) {
    model.showPreview();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&preview()));
    control->setFocus();
    QTest::keyClick(control, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_FALSE(preview().isVisible()) << control->metaObject()->className();
  }
}

// Tab visits every control in reading order; Ctrl+M, which the Mark up
// button's tooltip names, opens the mark-up.
TEST_F(CaptureViewsTest, TabFollowsTheReadingOrderAndMarkUpHasAKey) {
  preview().markupButton()->setFocus();
  std::vector<QWidget*> visited = {QApplication::focusWidget()};
  for (int i = 0; i < 6; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(QApplication::focusWidget());
  }
  EXPECT_EQ(visited,
            (std::vector<QWidget*>{preview().markupButton(), preview().filenameField(),
                                   preview().messageField(), preview().destinationMenu(),
                                   preview().saveButton(), preview().moreButton(), preview().mainButton()}));
  EXPECT_TRUE(preview().markupButton()->toolTip().endsWith("(Ctrl+M)"));
  QTest::keyClick(preview().mainButton(), Qt::Key_Return, Qt::ControlModifier);
  EXPECT_FALSE(preview().isVisible());

  // From the text fields too: the key is none of their editing keys.
  for (QWidget* field : std::vector<QWidget*>{preview().filenameField(), preview().messageField()}) {
    if (harness.windows->markupWindow()) harness.windows->markupWindow()->hide();
    model.showPreview();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&preview()));
    QTest::keyClick(field, Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(harness.windows->markupWindow() && harness.windows->markupWindow()->isVisible())
        << field->metaObject()->className();
  }
}

// A capture opened from Recent Captures: the name typed is stored when the
// preview ends with Return, and Escape says that only the changes go.
TEST_F(CaptureViewsTest, ASavedCaptureKeepsItsFileAndGetsTheNameTypedWhenThePreviewEnds) {
  model.setFilename("clean");
  awaitTask(model.save());
  const CaptureRecord record = model.records().front();
  model.discard();
  awaitTask(model.openRecord(record));
  ASSERT_TRUE(QTest::qWaitForWindowActive(&preview()));

  // Escape with a message or a new name typed asks; the saved file stays as it is.
  for (QWidget* typedIn : std::vector<QWidget*>{preview().messageField(), preview().filenameField()}) {
    QTest::keyClicks(typedIn, "x");
    QTest::keyClick(&preview(), Qt::Key_Escape);
    QMessageBox* question = openQuestion(preview());
    ASSERT_TRUE(question);
    EXPECT_EQ(question->text(), "Discard your changes?");
    EXPECT_EQ(question->informativeText(),
              "“clean.png” stays saved under this name; the name and message typed here are dropped.");
    answer(*question, "Discard Changes");
    EXPECT_FALSE(preview().isVisible());
    EXPECT_EQ(model.records(), std::vector<CaptureRecord>{record});
    EXPECT_TRUE(std::filesystem::exists(model.store()->url(record)));
    awaitTask(model.openRecord(record));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&preview()));
  }

  // Return in the name, Return in the message: a taken name keeps the
  // preview and says why; closing the window asks as Escape does.
  model.store()->save("png", "taken", std::nullopt, Date{});
  auto typeAndReturn = [&](const char* typed, const QString& footer) {
    preview().filenameField()->setFocus();
    preview().filenameField()->selectAll();
    QTest::keyClicks(preview().filenameField(), typed);
    EXPECT_EQ(preview().footer()->text(), footer);
    QTest::keyClick(preview().filenameField(), Qt::Key_Return);
    EXPECT_TRUE(preview().messageField()->hasFocus());
    QTest::keyClick(preview().messageField(), Qt::Key_Return);
  };
  const QString taken =
      "Another capture is already named “taken.png”. Choose another name; nothing was renamed.";
  typeAndReturn("taken", "Return renames the saved file and copies the image.");
  ASSERT_TRUE(processEventsUntil([&] { return model.error().has_value(); }));
  EXPECT_EQ(preview().footer()->text(), taken);
  preview().close();
  ASSERT_TRUE(openQuestion(preview()));
  answer(*openQuestion(preview()), "Keep Editing");
  ASSERT_TRUE(preview().isVisible());
  typeAndReturn("clean rename", taken);
  ASSERT_TRUE(processEventsUntil([&] { return !preview().isVisible(); }));
  EXPECT_EQ(model.records().back().filename, "clean-rename.png");
  EXPECT_EQ(model.records().back().id, record.id);
  EXPECT_TRUE(std::filesystem::exists(harness.dataRoot() / "Captures" / "clean-rename.png"));
  EXPECT_FALSE(std::filesystem::exists(model.store()->url(record)));
  EXPECT_EQ(card().header()->text(), "clean-rename.png");
  EXPECT_EQ(preview().windowTitle(), "clean-rename.png — Lumacap");
}

TEST_F(CaptureViewsTest, CtrlSSavesFromTheMessageAndTheTextsFollow) {
  EXPECT_EQ(preview().footer()->text(), "Already copied. Paste whenever you’re ready.");
  EXPECT_EQ(card().header()->text(), "Copied");
  EXPECT_EQ(card().saveButton()->text(), "Save");

  // The name typed is taken: every view shows the name stored, and the footer says why.
  model.store()->save("png", "main-function", std::nullopt, Date{});
  preview().filenameField()->setText({});
  QTest::keyClicks(preview().filenameField(), "main-function");
  QTest::keyClick(preview().messageField(), Qt::Key_S, Qt::ControlModifier);
  ASSERT_TRUE(processEventsUntil([&] { return model.savedID().has_value(); }));
  EXPECT_EQ(preview().filenameField()->text(), "main-function-2.png");
  EXPECT_EQ(preview().footer()->text(), "Saved as main-function-2.png: main-function.png exists");
  EXPECT_EQ(model.status(), "Saved as main-function-2.png: main-function.png exists");
  EXPECT_EQ(card().header()->text(), "main-function-2.png");
  EXPECT_EQ(card().saveButton()->text(), "Saved");
  EXPECT_FALSE(card().saveButton()->isEnabled());
  EXPECT_TRUE(preview().messageField()->toPlainText().isEmpty());

  // A name that is free is stored as typed.
  preview().filenameField()->setText({});
  QTest::keyClicks(preview().filenameField(), "renamed");
  QTest::keyClick(preview().messageField(), Qt::Key_S, Qt::ControlModifier);
  ASSERT_TRUE(processEventsUntil([&] { return model.filename() == "renamed.png"; }));
  EXPECT_EQ(preview().footer()->text(), "Saved locally. Ready to paste.");
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

  // A long error keeps its cause within two lines, a long hint its first and
  // last phrases; no word is cut.
  const QString error =
      "Could not write “" + QString(120, 'x') + "/Captures/capture.png”: No space left on device";
  const QFontMetrics metrics = card().hint()->fontMetrics();
  EXPECT_EQ(QuickCaptureView::fitted(error, metrics, 200, 2), "Could not write … No space left on device");
  EXPECT_EQ(
      QuickCaptureView::fitted("4 possible secrets redacted · Ready in Konsole · Claude image paste: Ctrl+V",
                               metrics, 200, 2),
      "4 possible secrets redacted · … · Claude image paste: Ctrl+V");
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
  ASSERT_TRUE(harness.windows->quickWindow()->isVisible());
  card().editButton()->click();
  EXPECT_TRUE(preview().isVisible());
  EXPECT_FALSE(harness.windows->quickWindow()->isVisible());

  model.copyImageAndReturn();
  card().pinButton()->click();
  std::vector<PinWindow*> pins;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (auto* pin = dynamic_cast<PinWindow*>(window); pin && pin->isVisible()) pins.push_back(pin);
  }
  ASSERT_EQ(pins.size(), 1u);
  EXPECT_EQ(pins[0]->image(), model.image());
  pins[0]->close();
  card().dismissButton()->click();
  EXPECT_FALSE(harness.windows->quickWindow()->isVisible());
}

TEST_F(CaptureViewsTest, EveryCaptureIsSavedToTheChosenFolderWhenAsked) {
  const std::filesystem::path folder = harness.root / "Pictures";
  awaitTask(model.chooseCaptureFolder(folder, false));
  harness.settings->setSaveEveryCapture(true);
  model.hideQuickCapture();
  awaitTask(model.capture(CaptureMode::display));
  ASSERT_TRUE(processEventsUntil([&] { return model.savedID().has_value(); }));
  EXPECT_EQ(card().saveButton()->text(), "Saved");
  EXPECT_TRUE(std::filesystem::is_regular_file(folder / model.filename().toStdString()));
}

// Lumacap's windows leave the screen for a capture and come back after it:
// the card only when asked, the keyboard only when asked.
TEST_F(CaptureViewsTest, WindowsHiddenForACaptureComeBackAsAsked) {
  QWidget& card = *harness.windows->quickWindow();
  for (const bool asked : {false, true}) {
    card.show();
    preview().activateWindow();
    ASSERT_TRUE(processEventsUntil([&] { return QApplication::activeWindow() == &preview(); }));
    HiddenForCapture hidden = harness.windows->hideForCapture();
    EXPECT_FALSE(card.isVisible() || preview().isVisible());
    EXPECT_TRUE(hidden.previewWasShown());
    EXPECT_EQ(hidden.restore({.card = asked, .focus = asked}), asked) << "the preview took the keyboard";
    EXPECT_EQ(card.isVisible(), asked);
    EXPECT_TRUE(preview().isVisible());
  }
}

// A capture far wider or taller than its tile still shows as a band.
TEST(ImageTileTest, VeryWideAndVeryTallCapturesAreLetterboxedNotBlank) {
  for (const QSize size : {QSize(6000, 12), QSize(12, 6000)}) {
    QImage capture(size, QImage::Format_RGB32);
    capture.fill(Qt::red);
    ImageTile tile(0, 0, 0);
    tile.resize(84, 56);
    tile.setImage(capture);
    EXPECT_EQ(tile.grab().toImage().pixelColor(42, 28), QColor(Qt::red))
        << size.width() << "×" << size.height();
  }
}

// Save As… opens in the folder used last, else in Pictures (as user-dirs.dirs
// names it), else in the home folder: never in the working folder. The
// columns fit the dialog's first size.
TEST(SaveAsDialogTest, OpensInTheFolderUsedLastElsePicturesAndItsColumnsFit) {
  test::TempDir home;
  const test::ScopedEnvironment environment{
      {{"HOME", home.path().string()}, {"XDG_CONFIG_HOME", (home / ".config").string()}}};
  auto folderOf = [](const DialogPrompts& prompts) {
    return prompts.exportDialog("shot.png")->directory().absolutePath().toStdString();
  };
  DialogPrompts prompts;
  EXPECT_EQ(folderOf(prompts), home.path().string());
  std::filesystem::create_directories(home / "Bilder");
  std::filesystem::create_directories(home / ".config");
  std::ofstream(home / ".config/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
  EXPECT_EQ(folderOf(prompts), (home / "Bilder").string());

  std::filesystem::create_directories(home / "exports");
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_TRUE(dialog);
    dialog->selectFile(QString::fromStdString((home / "exports/shot.png").string()));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  EXPECT_EQ(prompts.exportLocation("shot.png"), home / "exports/shot.png");
  EXPECT_EQ(folderOf(prompts), (home / "exports").string());

  const auto dialog = prompts.exportDialog("shot.png");
  dialog->setViewMode(QFileDialog::Detail);
  dialog->show();
  const auto* details = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
  ASSERT_TRUE(details);
  EXPECT_LE(details->header()->length(), details->viewport()->width());
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
