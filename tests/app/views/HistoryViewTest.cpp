#include "app/views/HistoryView.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <atomic>

#include "app/views/HistoryListModel.h"
#include "app/views/ThumbnailCache.h"
#include "support/ModelHarness.h"
#include "support/RenderedText.h"

namespace lumacap {
namespace {

using test::awaitTask;
using test::processEventsUntil;

std::string png(QSize size = {1920, 1080}) {
  test::TextImageStyle style = test::darkTerminal();
  style.size = size;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  test::renderedText({"$ make -j2", "[100%] Built target lumacap"}, style).save(&buffer, "PNG");
  return bytes.toStdString();
}

QPushButton* button(QWidget& parent, const QString& title) {
  for (auto* candidate : parent.findChildren<QPushButton*>()) {
    if (candidate->text() == title) return candidate;
  }
  throw std::runtime_error("no button " + title.toStdString());
}

// Every label's text in `parent`, one after the other.
QString labelTexts(QWidget& parent) {
  QString texts;
  for (auto* label : parent.findChildren<QLabel*>()) texts += label->text() + "\n";
  return texts;
}

void choose(QMenu& menu, const QString& title) {
  for (QAction* action : menu.actions()) {
    if (action->text() == title) return action->trigger();
  }
  throw std::runtime_error("no menu item " + title.toStdString());
}

class HistoryViewTest : public ::testing::Test {
 protected:
  // Captures saved before the model opens the history, newest last.
  AppModel& startWith(const std::vector<std::string>& names) {
    ScreenshotStore store(harness.dataRoot());
    for (const std::string& name : names) store.save(png({320, 200}), name, std::nullopt, Date{7e8});
    return harness.start();
  }

  void openMenuOfRow(HistoryView& view, int row, const QString& item) {
    view.showRecordMenu(view.rows().index(row), {});
    choose(*view.recordMenu(), item);
  }

  test::ModelHarness harness;
};

TEST_F(HistoryViewTest, EmptyHistoryInvitesACaptureAndTheListFollowsTheModel) {
  AppModel& model = harness.start();
  HistoryView view(model, *harness.context);
  EXPECT_EQ(view.caption()->text(), "0 saved · stored on this computer");
  EXPECT_TRUE(view.emptyState()->isVisibleTo(&view));
  EXPECT_FALSE(view.list()->isVisibleTo(&view));
  EXPECT_FALSE(view.deleteAllButton()->isEnabled());

  awaitTask(model.capture(CaptureMode::display));
  awaitTask(model.save());
  EXPECT_EQ(view.caption()->text(), "1 saved · stored on this computer");
  EXPECT_TRUE(view.list()->isVisibleTo(&view));
  EXPECT_EQ(view.rows().rowCount(), 1);
  EXPECT_TRUE(view.deleteAllButton()->isEnabled());
}

TEST_F(HistoryViewTest, RowLinesNameTheSourceAndTheLastDelivery) {
  struct Case {
    std::optional<std::string> application, destination, status;
    QString detailStart;
    QVariant delivery;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, std::nullopt, "Screen · ", QVariant()},
      {"Firefox", "Clipboard", std::nullopt, "Firefox · ", QString("Staged · Clipboard")},
      {std::nullopt, "Claude Code · api", "Sent", "Screen · ", QString("Sent · Claude Code · api")},
  };
  ThumbnailCache thumbnails([](const QString&) { return QString(); });
  HistoryListModel rows(thumbnails);
  std::vector<CaptureRecord> records;
  for (size_t i = 0; i < cases.size(); ++i) {
    records.push_back({std::to_string(i),
                       std::to_string(i) + ".png",
                       Date{7e8},
                       cases[i].application,
                       cases[i].destination,
                       cases[i].status,
                       {},
                       {},
                       {}});
  }
  rows.setRecords(records);
  for (size_t i = 0; i < cases.size(); ++i) {
    const QModelIndex index = rows.index(static_cast<int>(i));
    const QString detail = index.data(HistoryListModel::detailRole).toString();
    EXPECT_TRUE(detail.startsWith(cases[i].detailStart)) << detail.toStdString();
    EXPECT_GT(detail.size(), cases[i].detailStart.size()) << "no date in " << detail.toStdString();
    EXPECT_EQ(index.data(HistoryListModel::deliveryRole), cases[i].delivery) << i;
  }
}

// Renaming and deleting from the window with the keyboard is the real-X
// HistoryWindowTest's; here, the name the dialog starts with and Cancel.
TEST_F(HistoryViewTest, RenameStartsWithTheFullNameAndCancelKeepsEverything) {
  AppModel& model = startWith({"first", "second"});
  HistoryView view(model, *harness.context);
  openMenuOfRow(view, 1, "Rename…");
  ASSERT_TRUE(view.renameDialog() && view.renameDialog()->isVisible());
  EXPECT_EQ(view.renameField()->text(), "first.png");
  view.renameField()->setText("My Shot");
  button(*view.renameDialog(), "Rename")->click();
  EXPECT_TRUE(processEventsUntil([&] { return view.rows().index(1).data().toString() == "my-shot.png"; }));

  view.deleteAllButton()->click();
  ASSERT_TRUE(view.deleteAllDialog()->isVisible());
  EXPECT_TRUE(labelTexts(*view.deleteAllDialog()).contains("all 2 saved captures"));
  button(*view.deleteAllDialog(), "Cancel")->click();
  EXPECT_EQ(model.records().size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(harness.dataRoot() / "Captures" / "second.png"));
}

// Deleting names the capture, and Return answers "Cancel".
TEST_F(HistoryViewTest, DeleteNamesTheCaptureAndReturnKeepsIt) {
  AppModel& model = startWith({"main-function"});
  HistoryView view(model, *harness.context);
  view.show();
  openMenuOfRow(view, 0, "Delete…");
  QDialog& dialog = *view.deleteDialog();
  ASSERT_TRUE(dialog.isVisible());
  EXPECT_TRUE(labelTexts(dialog).contains("“main-function.png”"));
  EXPECT_TRUE(button(dialog, "Cancel")->isDefault());
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  ASSERT_EQ(model.records().size(), 1u);

  view.deleteAllButton()->click();
  EXPECT_TRUE(labelTexts(*view.deleteAllDialog()).contains("“main-function.png”"));
  EXPECT_TRUE(button(*view.deleteAllDialog(), "Cancel")->isDefault());
}

// The search keeps the rows that match; Shift selects several, which Ctrl+C
// copies as paths and the Delete key asks about together; a rename onto a
// name another capture has is said in the status line, and the window opens
// tall enough for twelve rows where the screen allows.
TEST_F(HistoryViewTest, SearchSelectionDeleteKeyAndATakenName) {
  AppModel& model = startWith({"older", "build log", "holder", "newer"});
  HistoryView view(model, *harness.context);
  view.show();
  QTest::keyClicks(view.list(), "LDER ");  // typing in the list searches
  EXPECT_EQ(view.caption()->text(), "2 of 4 saved match the search");
  QTest::keyClick(view.searchField(), Qt::Key_Down);
  QTest::keyClick(view.list(), Qt::Key_Down, Qt::ShiftModifier);
  QTest::keyClick(view.list(), Qt::Key_C, Qt::ControlModifier);
  const std::filesystem::path captures = harness.dataRoot() / "Captures";
  EXPECT_EQ(harness.pasteboard.text(),
            (captures / "holder.png").string() + "\n" + (captures / "older.png").string() + "\n");
  QTest::keyClick(view.list(), Qt::Key_Delete);
  ASSERT_TRUE(view.deleteDialog() && view.deleteDialog()->isVisible());
  EXPECT_EQ(view.deleteDialog()->windowTitle(), "Delete 2 captures?");
  button(*view.deleteDialog(), "Delete")->click();
  ASSERT_TRUE(processEventsUntil([&] { return model.records().size() == 2u; }));
  EXPECT_FALSE(std::filesystem::exists(captures / "holder.png") ||
               std::filesystem::exists(captures / "older.png"));
  EXPECT_EQ(view.rows().rowCount(), 0);
  QTest::keyClick(view.searchField(), Qt::Key_Escape);
  EXPECT_EQ(view.rows().rowCount(), 2);

  openMenuOfRow(view, 1, "Rename…");
  view.renameField()->setText("Newer");
  button(*view.renameDialog(), "Rename")->click();
  ASSERT_TRUE(processEventsUntil([&] { return view.notice()->isVisible(); }));
  EXPECT_EQ(view.notice()->text(),
            "Another capture is already named “newer.png”. Choose another name; nothing was renamed.");
  EXPECT_EQ(view.rows().index(1).data().toString(), "build-log.png");
  EXPECT_TRUE(harness.prompts.alerts.empty());
  openMenuOfRow(view, 1, "Rename…");
  view.renameField()->setText("Oldest");
  button(*view.renameDialog(), "Rename")->click();
  ASSERT_TRUE(processEventsUntil([&] { return view.notice()->text() == "Renamed to oldest.png"; }));

  view.resize(view.sizeHint());
  EXPECT_GE(view.list()->viewport()->height(), HistoryView::shownRows * view.list()->sizeHintForRow(0));
  model.showHistory();
  QWidget& window = *harness.windows->historyWindow();
  const int available = window.screen()->availableGeometry().height();
  EXPECT_EQ(window.height(), std::clamp(window.sizeHint().height(), 520, available - 64));
}

// The footer's line says what the last action did, or why it could not.
TEST_F(HistoryViewTest, StatusLineSaysWhatCopyAndShowFolderDid) {
  AppModel& model = startWith({"kept"});
  HistoryView view(model, *harness.context);
  view.show();
  openMenuOfRow(view, 0, "Copy Image");
  ASSERT_TRUE(processEventsUntil([&] { return view.notice()->isVisible(); }));
  EXPECT_EQ(view.notice()->text(), "Image copied · paste it in your agent");

  harness.fileBrowser.shows = false;
  button(view, "Show Folder")->click();
  const std::filesystem::path folder = ScreenshotStore::defaultRoot() / "Captures";
  EXPECT_EQ(view.notice()->text().toStdString(), "No file manager is installed to open " + folder.string());
  EXPECT_TRUE(view.notice()->textInteractionFlags() & Qt::TextSelectableByMouse);
  view.hide();
  view.show();
  EXPECT_FALSE(view.notice()->isVisible()) << "a stale line goes when the window opens again";
}

TEST_F(HistoryViewTest, ShowInFileManagerNeedsTheStoreWhileShowFolderDoesNot) {
  AppModel& model = startWith({"kept"});
  HistoryView view(model, *harness.context);
  openMenuOfRow(view, 0, "Show in File Manager");
  EXPECT_EQ(harness.fileBrowser.revealed,
            std::vector<std::filesystem::path>{harness.dataRoot() / "Captures" / "kept.png"});

  test::ModelHarness broken;
  broken.storeFails = true;
  AppModel& storeless = broken.start();
  ASSERT_EQ(storeless.store(), nullptr);
  HistoryView withoutStore(storeless, *broken.context);
  withoutStore.reveal(CaptureRecord{"A", "kept.png", Date{}, {}, {}, {}, {}, {}, {}});
  EXPECT_TRUE(broken.fileBrowser.revealed.empty());
  button(withoutStore, "Show Folder")->click();
  EXPECT_EQ(broken.fileBrowser.opened,
            std::vector<std::filesystem::path>{ScreenshotStore::defaultRoot() / "Captures"});
}

TEST_F(HistoryViewTest, ReturnOpensTheSelectedCapture) {
  AppModel& model = startWith({"older", "newer"});
  HistoryView view(model, *harness.context);
  view.show();
  view.list()->setCurrentIndex(view.rows().index(1));
  QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(view.list(), &key);
  ASSERT_TRUE(processEventsUntil(
      [&] { return harness.windows->previewWindow() && harness.windows->previewWindow()->isVisible(); }));
  EXPECT_EQ(model.filename(), "older.png");
}

// A FIFO in a capture's place would block a reader for good.
TEST_F(HistoryViewTest, ThumbnailIsSmallAndAMissingFileOrAFifoKeepsThePlaceholder) {
  ScreenshotStore store(harness.dataRoot());
  const CaptureRecord gone = store.save(png(), "gone", std::nullopt, Date{7e8});
  const CaptureRecord fifo = store.save(png(), "fifo", std::nullopt, Date{7e8});
  store.save(png(), "shown", std::nullopt, Date{7e8});
  std::filesystem::remove(store.url(gone));
  std::filesystem::remove(store.url(fifo));
  ASSERT_EQ(::mkfifo(store.url(fifo).c_str(), 0600), 0);
  AppModel& model = harness.start();
  HistoryView view(model, *harness.context);

  auto thumbnail = [&](int row) { return view.rows().index(row).data(Qt::DecorationRole); };
  for (int row : {0, 1, 2}) thumbnail(row);
  ASSERT_TRUE(processEventsUntil([&] {
    return view.thumbnails().state("shown.png") == ThumbnailCache::State::loaded &&
           view.thumbnails().state("fifo.png") == ThumbnailCache::State::unreadable &&
           view.thumbnails().state("gone.png") == ThumbnailCache::State::unreadable;
  }));
  const QImage image = thumbnail(0).value<QImage>();
  EXPECT_EQ(image.size(), QSize(180, 101));
  EXPECT_FALSE(thumbnail(1).isValid());
  EXPECT_FALSE(thumbnail(2).isValid());
}

TEST(ThumbnailCacheTest, DecodesOncePerNameOffTheGuiThreadUntilTheNameIsForgotten) {
  std::atomic<int> decodes = 0;
  std::atomic<bool> onGuiThread = false;
  QImage picture(40, 30, QImage::Format_RGB32);
  picture.fill(Qt::red);
  ThumbnailCache cache([](const QString& filename) { return "/captures/" + filename; },
                       [&](const QString& path) {
                         ++decodes;
                         if (QThread::currentThread() == qApp->thread()) onGuiThread = true;
                         return path == "/captures/a.png" ? picture : QImage();
                       });
  EXPECT_TRUE(cache.thumbnail("a.png").isNull());
  EXPECT_TRUE(cache.thumbnail("a.png").isNull());  // already under way
  ASSERT_TRUE(processEventsUntil([&] { return cache.state("a.png") == ThumbnailCache::State::loaded; }));
  EXPECT_EQ(cache.thumbnail("a.png").size(), QSize(40, 30));
  EXPECT_EQ(decodes, 1);
  EXPECT_FALSE(onGuiThread);

  // A name given to a new capture after the old one went is decoded afresh.
  cache.keepOnly({});
  EXPECT_EQ(cache.state("a.png"), ThumbnailCache::State::absent);
  cache.thumbnail("a.png");
  ASSERT_TRUE(processEventsUntil([&] { return cache.state("a.png") == ThumbnailCache::State::loaded; }));
  EXPECT_EQ(decodes, 2);
}

TEST(ThumbnailCacheTest, RowsScrolledAwayAreDroppedAndAskAgain) {
  std::atomic<bool> held = true;
  QImage picture(40, 30, QImage::Format_RGB32);
  picture.fill(Qt::blue);
  ThumbnailCache cache([](const QString& filename) { return filename; },
                       [&](const QString&) {
                         while (held) QThread::msleep(1);
                         return picture;
                       });
  std::vector<QString> announced;
  QObject::connect(&cache, &ThumbnailCache::loaded, [&](const QString& name) { announced.push_back(name); });
  const int requests = 100;
  for (int i = 0; i < requests; ++i) cache.thumbnail(QString::number(i));
  held = false;
  ASSERT_TRUE(processEventsUntil([&] { return announced.size() == requests; }));

  // The newest requests were kept; the oldest ones not yet started were
  // dropped, announced all the same, and decode when asked again.
  EXPECT_EQ(cache.state(QString::number(requests - 1)), ThumbnailCache::State::loaded);
  EXPECT_EQ(cache.state("10"), ThumbnailCache::State::absent);
  cache.thumbnail("10");
  ASSERT_TRUE(processEventsUntil([&] { return cache.state("10") == ThumbnailCache::State::loaded; }));
}

}  // namespace
}  // namespace lumacap
