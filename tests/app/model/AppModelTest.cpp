#include "app/model/AppModel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSemaphore>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>

#include "core/StagingText.h"
#include "platform/ImageCoding.h"
#include "support/ModelHarness.h"

namespace lumacap {
namespace {

using test::awaitTask;
using test::processEventsUntil;

const int32_t ownPid = static_cast<int32_t>(QCoreApplication::applicationPid());
const DesktopApplication xterm{4100, "XTerm", "XTerm", "Sat Dec  5 09:00:00 2026"};
const DesktopApplication firefox{4200, "firefox", "Firefox", "Sat Dec  5 09:00:00 2026"};

// Answers the n-th recognition with the n-th list of lines, once the test
// allows it: name suggestions arrive exactly when a test wants them.
class SteppedRecognizer final : public TextRecognizer {
 public:
  explicit SteppedRecognizer(std::vector<std::vector<RecognizedLine>> answers)
      : answers_(std::move(answers)) {}
  ~SteppedRecognizer() override { allow(1000); }

  std::vector<RecognizedLine> recognize(const QImage&) override {
    std::unique_lock lock(mutex_);
    const int mine = started_++;
    allowed_.wait(lock, [&] { return allowedCount_ > mine; });
    return answers_.at(static_cast<size_t>(mine) % answers_.size());
  }
  void allow(int count) {
    std::lock_guard lock(mutex_);
    allowedCount_ = count;
    allowed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable allowed_;
  std::vector<std::vector<RecognizedLine>> answers_;
  int started_ = 0;
  int allowedCount_ = 0;
};

std::vector<RecognizedLine> recognizedLine(const std::string& text) {
  return {RecognizedLine{text, 0.9f, QRect(0, 0, 400, 40)}};
}

class AppModelTest : public ::testing::Test {
 protected:
  AppModelTest() {
    harness.workspace.add(xterm);
    harness.workspace.add(firefox);
    harness.workspace.setFrontmost(xterm.pid);
  }

  AppModel& captured() {
    AppModel& model = harness.model ? *harness.model : harness.start();
    awaitTask(model.capture(CaptureMode::display));
    return model;
  }

  // A live Claude Code session hosted by `host`.
  AgentSession liveSession(const std::string& id, int32_t pid, const DesktopApplication& host,
                           double updatedAt) {
    const AgentSession session{id,
                               "/work/" + id,
                               ProcessIdentity{pid, "claude", "Sat Dec  5 10:00:00 2026"},
                               host.bundleIdentifier,
                               host.pid,
                               Date{updatedAt}};
    harness.processes.add(session.process);
    SessionRepository(harness.dataRoot()).write(session);
    return session;
  }

  // Opens the preview and waits for the destination suggestion it starts.
  void showPreview(AppModel& model) {
    model.showPreview();
    ASSERT_TRUE(processEventsUntil([&] { return !harness.registry->refreshing(); }));
  }

  test::ModelHarness harness;
};

TEST_F(AppModelTest, CaptureGoesToClipboardThumbnailAndBackToTheUsersApplication) {
  harness.fakeRecognizer->setLines(recognizedLine("Build failed in the console"));
  AppModel& model = captured();

  ASSERT_TRUE(harness.pasteboard.image());
  EXPECT_EQ(harness.pasteboard.image()->size(), QSize(3024, 1964));
  EXPECT_EQ(QImage::fromData(harness.pasteboard.png(), "PNG").size(), QSize(3024, 1964));
  EXPECT_EQ(harness.workspace.activations(), std::vector<int32_t>{xterm.pid});
  EXPECT_EQ(model.status(), "Image copied to clipboard");
  EXPECT_EQ(model.pasteHint(), "Ready in XTerm · Claude image paste: Ctrl+V");
  EXPECT_FALSE(model.busy());
  EXPECT_TRUE(harness.windows->quickWindow()->isVisible());
  ASSERT_TRUE(processEventsUntil([&] { return !model.naming(); }));
  EXPECT_EQ(model.filename(), "build-failed-console.png");
}

// GNOME: Capture Window… is its own screenshot interface, whose image is the capture.
TEST_F(AppModelTest, WhereTheDesktopChoosesTheWindowItsImageIsTheCaptureAndACancelIsNoError) {
  QImage chosen(640, 480, QImage::Format_RGB32);
  chosen.fill(Qt::darkGreen);
  harness.screens.chosenByDesktop = chosen;
  AppModel& model = harness.start();
  awaitTask(model.capture(CaptureMode::window));
  ASSERT_TRUE(harness.pasteboard.image());
  EXPECT_EQ(*harness.pasteboard.image(), chosen);
  EXPECT_FALSE(harness.windows->chooserWindow() && harness.windows->chooserWindow()->isVisible());

  harness.screens.chosenByDesktop = QImage();
  awaitTask(model.capture(CaptureMode::window));
  EXPECT_FALSE(model.busy());
  EXPECT_EQ(model.image(), chosen);  // the capture before stays
  EXPECT_TRUE(harness.prompts.alerts.empty());
}

TEST_F(AppModelTest, CaptureIsRefusedWhileOneRunsAndCancellingReturnsFocusWithoutAlert) {
  AppModel& model = harness.start();
  auto region = model.capture(CaptureMode::region);
  ASSERT_TRUE(processEventsUntil([&] {
    return harness.captureManager->overlay() && !harness.captureManager->overlay()->windows().empty();
  }));
  EXPECT_TRUE(model.busy());
  const int queries = harness.screens.contentQueries;
  awaitTask(model.capture(CaptureMode::display));  // a second hot-key press
  EXPECT_EQ(harness.screens.contentQueries, queries);

  harness.cancelRegion();
  awaitTask(std::move(region));
  EXPECT_FALSE(model.busy());
  EXPECT_TRUE(model.image().isNull());
  EXPECT_TRUE(harness.prompts.alerts.empty());
  EXPECT_EQ(harness.workspace.activations(), std::vector<int32_t>{xterm.pid});
}

// Counts the times a window left the screen.
class HideCounter final : public QObject {
 public:
  explicit HideCounter(QWidget& window) { window.installEventFilter(this); }
  int hides = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    hides += event->type() == QEvent::Hide;
    return false;
  }
};

// A start from a shell just after the user clicked another window: Qt may not yet have read that
// the other window took the keyboard, and a desktop refuses to activate an open window without a
// token, so the open window is mapped anew all the same, which a desktop gives the keyboard.
TEST_F(AppModelTest, AnOpenWindowAskedForAgainIsMappedAnewEvenWhileQtBelievesItHasTheKeyboard) {
  AppModel& model = harness.start();
  model.showHistory();
  QWidget* history = harness.windows->historyWindow();
  ASSERT_TRUE(processEventsUntil([&] {
    return history->windowHandle() && history->windowHandle()->isExposed() && history->isActiveWindow();
  }));
  HideCounter counter(*history);
  model.showHistory();
  EXPECT_EQ(counter.hides, 1) << "the window Qt believed active was only asked to activate";
  EXPECT_TRUE(history->isVisible());
}

// Our windows leave the screen for a capture and come back where they were,
// however it ends; a preview with a message takes the new capture.
TEST_F(AppModelTest, OurWindowsComeBackWhereTheyWereAfterACapture) {
  AppModel& model = captured();
  model.showSettings();
  model.showHistory();
  QWidget* settings = harness.windows->preferencesWindow();
  QWidget* history = harness.windows->historyWindow();
  history->move(140, 90);  // (Settings may grow to fit what it learnt meanwhile)
  const QPoint where = history->pos();

  auto region = model.capture(CaptureMode::region);
  ASSERT_TRUE(processEventsUntil([&] { return harness.captureManager->overlay() != nullptr; }));
  EXPECT_FALSE(settings->isVisible() || history->isVisible());
  harness.cancelRegion();
  awaitTask(std::move(region));
  EXPECT_TRUE(settings->isVisible() && history->isVisible());
  EXPECT_EQ(history->pos(), where);

  awaitTask(model.capture(CaptureMode::display));
  EXPECT_TRUE(settings->isVisible() && history->isVisible());
  EXPECT_TRUE(harness.windows->quickWindow()->isVisible());

  showPreview(model);
  model.setPrompt("Why is this red?");
  awaitTask(model.capture(CaptureMode::display));
  EXPECT_TRUE(harness.windows->previewWindow()->isVisible());
  EXPECT_FALSE(harness.windows->quickWindow()->isVisible());
  EXPECT_EQ(model.prompt(), "Why is this red?");
  EXPECT_FALSE(model.savedID());
}

TEST_F(AppModelTest, FocusGoesBackToTheLastOtherApplicationWhenLumacapWasInFront) {
  harness.workspace.add(DesktopApplication{ownPid, "lumacap", "Lumacap", "t"});
  AppModel& model = harness.start();
  harness.workspace.userActivates(firefox.pid);
  harness.workspace.userActivates(ownPid);  // the user opened our menu
  awaitTask(model.capture(CaptureMode::display));
  EXPECT_EQ(harness.workspace.activations(), std::vector<int32_t>{firefox.pid});
  EXPECT_EQ(model.pasteHint(), "Ready in Firefox · Ctrl+V to paste");
}

TEST_F(AppModelTest, FailedCaptureAlertsAndKeepsTheCaptureInHand) {
  AppModel& model = captured();
  const QImage before = model.image();
  harness.screens.contentError = std::make_exception_ptr(CaptureError(CaptureError::Kind::permission));
  awaitTask(model.capture(CaptureMode::display));
  const QString message = CaptureError(CaptureError::Kind::permission).what();
  EXPECT_EQ(harness.prompts.alerts, std::vector<QString>{message});
  EXPECT_EQ(model.error(), message);
  EXPECT_EQ(model.image(), before);
  EXPECT_FALSE(model.busy());
}

TEST_F(AppModelTest, NameSuggestionNeverOverwritesTheUsersOwnNameOrAnotherCapture) {
  auto recognizer = std::make_shared<SteppedRecognizer>(std::vector{recognizedLine("First capture words"),
                                                                    recognizedLine("Second capture words"),
                                                                    recognizedLine("Third capture words")});
  harness.recognizer = recognizer;
  AppModel& model = captured();

  // Renamed by the user before the suggestion came.
  model.setFilename("mine.png");
  recognizer->allow(1);
  ASSERT_TRUE(processEventsUntil([&] { return !model.naming(); }));
  EXPECT_EQ(model.filename(), "mine.png");

  // Replaced by a newer capture: the older suggestion is dropped and
  // `naming` follows the newer capture.
  awaitTask(model.capture(CaptureMode::display));
  const QString newerInitialName = model.filename();
  awaitTask(model.capture(CaptureMode::display));
  const QString newestInitialName = model.filename();
  recognizer->allow(2);
  test::processEventsFor(std::chrono::milliseconds(50));
  EXPECT_TRUE(model.naming());
  EXPECT_EQ(model.filename(), newestInitialName);
  EXPECT_NE(newerInitialName, "second-capture-words.png");

  // Saved before the suggestion came: the saved name stays.
  awaitTask(model.save());
  const QString saved = model.filename();
  recognizer->allow(3);
  ASSERT_TRUE(processEventsUntil([&] { return !model.naming(); }));
  EXPECT_EQ(model.filename(), saved);
}

TEST_F(AppModelTest, SavingTwiceWritesOnceAndRenamingKeepsTheRecord) {
  AppModel& model = captured();
  model.setFilename("Shot");
  awaitTask(model.save());
  ASSERT_EQ(model.records().size(), 1u);
  EXPECT_EQ(model.filename(), "shot.png");
  EXPECT_EQ(model.status(), "Saved to local history");
  const auto index = harness.dataRoot() / "history.json";
  const auto written = std::filesystem::last_write_time(index);

  model.copyImage();  // another status meanwhile
  awaitTask(model.save());
  EXPECT_EQ(std::filesystem::last_write_time(index), written);
  EXPECT_EQ(model.status(), "Saved to local history");

  // Another capture has the name typed: nothing is renamed, and the error says why.
  const std::string firstID = *model.savedID();
  model.store()->save("png", "shot 2", std::nullopt, Date{});
  model.setFilename("Shot 2");
  awaitTask(model.save());
  EXPECT_EQ(model.savedID(), firstID);
  EXPECT_EQ(model.error(),
            "Another capture is already named “shot-2.png”. Choose another name; nothing was renamed.");
  EXPECT_EQ(model.storedFilename(), "shot.png");
  EXPECT_TRUE(model.renamePending());
  EXPECT_EQ(model.records().size(), 2u);

  // Deleted from the history while in hand: saving makes a new record.
  model.store()->remove(firstID);
  awaitTask(model.save());
  EXPECT_NE(model.savedID(), firstID);
  EXPECT_EQ(model.records().size(), 2u);
}

TEST_F(AppModelTest, DestinationSuggestionFollowsItsRules) {
  const AgentSession inXterm = liveSession("in-xterm", 501, xterm, 10);
  const AgentSession inFirefox = liveSession("in-firefox", 502, firefox, 20);
  AppModel& model = captured();

  // No remembered destination: the session in the capture's terminal.
  awaitTask(model.refreshDestinations(true));
  EXPECT_EQ(model.destinationID(), "in-xterm");
  // A remembered destination wins while it is listed…
  harness.settings->setLastDestination("in-firefox");
  awaitTask(model.refreshDestinations(true));
  EXPECT_EQ(model.destinationID(), "in-firefox");
  // …and is passed over once it is gone; without a session in the capture's
  // terminal, the clipboard.
  harness.processes.remove(inFirefox.process.pid);
  harness.processes.remove(inXterm.process.pid);
  awaitTask(model.refreshDestinations(true));
  EXPECT_EQ(model.destinationID(), AppModel::clipboardID);

  // A refresh without suggestion resets a choice whose session ended.
  harness.processes.add(inXterm.process);
  awaitTask(model.refreshDestinations(false));
  model.setDestinationID("in-xterm");
  harness.processes.remove(inXterm.process.pid);
  awaitTask(model.refreshDestinations(false));
  EXPECT_EQ(model.destinationID(), AppModel::clipboardID);

  // A choice the user made for the capture in hand outlives suggestions.
  harness.processes.add(inXterm.process);
  harness.processes.add(inFirefox.process);
  awaitTask(model.refreshDestinations(false));
  model.setDestinationID("in-firefox");
  harness.settings->setLastDestination("in-xterm");
  awaitTask(model.refreshDestinations(true));
  EXPECT_EQ(model.destinationID(), "in-firefox");

  // A capture from an unknown application is not matched with a session
  // whose terminal is unknown too.
  harness.settings->setLastDestination("gone");
  harness.processes.remove(inXterm.process.pid);
  harness.processes.remove(inFirefox.process.pid);
  liveSession("unknown-host", 503, DesktopApplication{4300, std::nullopt, std::nullopt, "t"}, 30);
  harness.workspace.setFrontmost(std::nullopt);
  awaitTask(model.capture(CaptureMode::display));
  awaitTask(model.refreshDestinations(true));
  EXPECT_EQ(model.destinationID(), AppModel::clipboardID);
}

TEST_F(AppModelTest, StagingToTheClipboardSavesAndCopiesTheText) {
  AppModel& model = captured();
  model.showPreview();
  model.setPrompt("Why is this red?");
  awaitTask(model.send());

  ASSERT_EQ(model.records().size(), 1u);
  EXPECT_EQ(harness.pasteboard.text(),
            StagingText::make(model.store()->url(model.records().front()), "Why is this red?"));
  EXPECT_EQ(model.records().front().deliveryStatus, "Copied");
  EXPECT_TRUE(model.status().startsWith("Copied — "));
  EXPECT_EQ(model.pasteHint(), "Path + message copied · Ctrl+Shift+V to paste");
  EXPECT_TRUE(harness.windows->quickWindow()->isVisible());
  EXPECT_EQ(harness.settings->lastDestination(), "clipboard");
  EXPECT_FALSE(model.busy());
}

TEST_F(AppModelTest, StagingToASessionStagesWhileItLivesAndKeepsThePreviewOnceItEnded) {
  const AgentSession session = liveSession("live", 701, xterm, 10);
  AppModel& model = captured();
  showPreview(model);
  ASSERT_EQ(model.destinationID(), "live");
  awaitTask(model.send());
  EXPECT_FALSE(model.error());
  EXPECT_EQ(model.pasteHint(), "Staged · its terminal is in front · Ctrl+Shift+V to paste");
  EXPECT_EQ(model.records().front().destination, "Claude Code · live");
  EXPECT_EQ(model.records().front().deliveryStatus, "Staged");

  showPreview(model);
  harness.processes.remove(session.process.pid);
  awaitTask(model.send());
  EXPECT_EQ(model.error(), IntegrationError(IntegrationError::Kind::sessionEnded).what());
  EXPECT_TRUE(harness.windows->previewWindow()->isVisible());
  EXPECT_EQ(model.records().size(), 1u);
  EXPECT_TRUE(harness.prompts.alerts.empty());
  EXPECT_FALSE(model.busy());
}

TEST_F(AppModelTest, ClosingThePreviewAndDiscardingWhileWorkIsUnderWayIsSafe) {
  liveSession("slow", 801, xterm, 10);
  auto recognizer = std::make_shared<SteppedRecognizer>(
      std::vector<std::vector<RecognizedLine>>{recognizedLine("Late suggestion words")});
  harness.recognizer = recognizer;
  AppModel& model = captured();
  showPreview(model);
  ASSERT_EQ(model.destinationID(), "slow");

  harness.processes.holdProbes();
  const int probed = harness.processes.inspections();
  auto staging = model.send();
  ASSERT_TRUE(processEventsUntil([&] { return harness.processes.inspections() > probed; }));
  harness.windows->previewWindow()->close();  // discards
  EXPECT_TRUE(model.image().isNull());
  harness.processes.releaseProbes();
  recognizer->allow(1);
  awaitTask(std::move(staging));
  test::processEventsFor(std::chrono::milliseconds(50));

  // The delivery itself completed; nothing of the dropped capture came back.
  EXPECT_EQ(model.records().size(), 1u);
  EXPECT_FALSE(harness.windows->quickWindow()->isVisible());
  EXPECT_FALSE(harness.windows->previewWindow()->isVisible());
  EXPECT_FALSE(model.naming());
  EXPECT_NE(model.filename(), "late-suggestion-words.png");
  EXPECT_FALSE(model.busy());
}

TEST_F(AppModelTest, ModelGoingAwayWhileACaptureWaitsIsSafe) {
  AppModel& model = harness.start();
  auto region = model.capture(CaptureMode::region);
  ASSERT_TRUE(processEventsUntil([&] { return harness.captureManager->overlay() != nullptr; }));
  harness.model.reset();
  harness.captureManager.reset();  // cancels the overlay: the capture task ends
  test::processEventsFor(std::chrono::milliseconds(50));
}

TEST_F(AppModelTest, DeletingRecordsDropsOnlyTheCaptureInHand) {
  AppModel& model = captured();
  awaitTask(model.save());
  const CaptureRecord other = model.store()->save("png", "other", std::nullopt, Date{});
  model.showPreview();

  awaitTask(model.remove({other}));
  EXPECT_FALSE(model.image().isNull());
  EXPECT_EQ(model.records().size(), 1u);

  awaitTask(model.remove({model.records().front()}));
  EXPECT_TRUE(model.image().isNull());
  EXPECT_FALSE(harness.windows->previewWindow()->isVisible());
  EXPECT_FALSE(harness.windows->quickWindow()->isVisible());

  awaitTask(model.capture(CaptureMode::display));
  awaitTask(model.save());
  awaitTask(model.deleteAll());
  EXPECT_TRUE(model.records().empty());
  EXPECT_TRUE(model.image().isNull());
}

// A long history takes a while to decode; the GUI thread goes on meanwhile.
TEST_F(AppModelTest, TheHistoryIsReadOffTheGuiThread) {
  auto gate = std::make_shared<std::promise<void>>();
  auto guiWasFree = std::make_shared<std::atomic<bool>>(false);
  harness.whileOpeningStore = [opened = gate->get_future().share(), guiWasFree] {
    *guiWasFree = opened.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  };
  QTimer::singleShot(50, [gate] { gate->set_value(); });
  harness.start();
  EXPECT_TRUE(*guiWasFree);
}

TEST_F(AppModelTest, WithoutAStoreCapturesStillReachClipboardAndThumbnail) {
  harness.storeFails = true;
  AppModel& model = harness.start();
  EXPECT_EQ(model.error(), StoreError(StoreError::Kind::invalidIndex).what());
  EXPECT_TRUE(harness.prompts.alerts.empty());  // the delegate presents it at launch

  awaitTask(model.capture(CaptureMode::display));
  EXPECT_TRUE(harness.pasteboard.image());
  EXPECT_TRUE(harness.windows->quickWindow()->isVisible());
  awaitTask(model.save());
  EXPECT_EQ(model.error(),
            "Capture history could not be read, so this capture was not saved. The image is still on the "
            "clipboard.");
  EXPECT_TRUE(model.records().empty());
}

TEST_F(AppModelTest, OpeningARecordPutsItInHandAsSavedUnlessItsFileIsGone) {
  AppModel& model = captured();
  model.setFilename("kept");
  awaitTask(model.save());
  const CaptureRecord record = model.records().front();
  model.discard();
  awaitTask(model.openRecord(record));
  EXPECT_EQ(model.savedID(), record.id);
  EXPECT_EQ(model.filename(), "kept.png");
  EXPECT_EQ(model.status(), "Saved capture · ready to copy or stage again");
  EXPECT_TRUE(harness.windows->previewWindow()->isVisible());
  EXPECT_EQ(model.image().size(), QSize(3024, 1964));

  model.discard();
  std::filesystem::remove(model.store()->url(record));

  awaitTask(model.openRecord(record));
  ASSERT_EQ(harness.prompts.alerts.size(), 1u);
  EXPECT_TRUE(harness.prompts.alerts.front().contains(QString::fromStdString(record.filename)));
  EXPECT_TRUE(model.image().isNull());
  EXPECT_FALSE(harness.windows->previewWindow() && harness.windows->previewWindow()->isVisible());

  // Whatever was put in its place: one line naming the file, at once (a FIFO
  // would block a reader, /dev/zero would never end).
  const std::filesystem::path file = model.store()->url(record);
  std::vector<std::pair<std::function<void()>, QString>> swaps = {
      {[&] { std::ofstream(file) << "not an image"; }, ": not a PNG image"},
      {[&] { ::mkfifo(file.c_str(), 0600); }, ": not a regular file"},
      {[&] { std::filesystem::create_symlink("/dev/zero", file); }, ": a link"},
  };
  if (::geteuid() == 0) {
    swaps.emplace_back([&] { std::ofstream(file) << "x", ::chown(file.c_str(), 65534, 65534); },
                       ": belongs to another user");
  }
  for (const auto& [swap, problem] : swaps) {
    std::filesystem::remove(file);
    swap();
    awaitTask(model.openRecord(record));
    EXPECT_TRUE(harness.prompts.alerts.back().startsWith(QString::fromStdString(file.string()) + problem))
        << harness.prompts.alerts.back().toStdString();
    EXPECT_TRUE(model.image().isNull());
  }
}

// Work for a capture that was dropped meanwhile changes nothing; opening a
// record refreshes the destinations once.
TEST_F(AppModelTest, LateResultsOfADroppedCaptureAreDropped) {
  liveSession("live", 601, xterm, 10);
  AppModel& model = captured();
  awaitTask(model.save());
  const CaptureRecord record = model.records().front();
  model.discard();

  const int inspections = harness.processes.inspections();
  auto opening = model.openRecord(record);
  model.discard();  // before the file was read
  awaitTask(std::move(opening));
  EXPECT_TRUE(model.image().isNull());
  EXPECT_FALSE(harness.windows->previewWindow() && harness.windows->previewWindow()->isVisible());
  awaitTask(model.openRecord(record));
  EXPECT_EQ(harness.processes.inspections() - inspections, 1);  // one listing, one probe

  // A save that waits for the PNG of a capture dropped meanwhile saves nothing.
  QSemaphore encoderHeld;
  const QFuture<void> holder = QtConcurrent::run(&encodingPool(), [&encoderHeld] { encoderHeld.acquire(); });
  awaitTask(model.capture(CaptureMode::display));
  auto saving = model.save();
  model.discard();
  encoderHeld.release();
  awaitTask(std::move(saving));
  EXPECT_EQ(model.records().size(), 1u);
}

TEST_F(AppModelTest, ThumbnailStaysWhileHoveredAndGoesAfterTheDelay) {
  harness.dismissalDelay = std::chrono::milliseconds(100);
  AppModel& model = captured();
  QWidget* thumbnail = harness.windows->quickWindow();
  model.setQuickCaptureHovered(true);
  test::processEventsFor(std::chrono::milliseconds(200));
  EXPECT_TRUE(thumbnail->isVisible());
  model.setQuickCaptureHovered(false);
  EXPECT_TRUE(processEventsUntil([&] { return !thumbnail->isVisible(); }, std::chrono::seconds(2)));

  // Dismissed by hand: no later timer brings it back or hides it again.
  awaitTask(model.capture(CaptureMode::display));
  model.hideQuickCapture();
  model.showPreview();
  model.discard();
  test::processEventsFor(std::chrono::milliseconds(200));
  EXPECT_FALSE(thumbnail->isVisible());
}

// The export is the user's own copy: it gets their usual permissions, not the
// private store's 0600.
TEST_F(AppModelTest, ExportWritesTheCaptureUnderTheProposedName) {
  AppModel& model = captured();
  model.setFilename("My Shot");
  harness.prompts.exportAnswer = harness.root / "out.png";
  const mode_t umask = ::umask(027);
  awaitTask(model.exportCapture());
  ::umask(umask);
  EXPECT_EQ(harness.prompts.proposedNames, std::vector<QString>{"my-shot.png"});
  EXPECT_EQ(QImage(QString::fromStdString((harness.root / "out.png").string())).size(), QSize(3024, 1964));
  EXPECT_EQ(test::permissionsOf(harness.root / "out.png"), 0640u);
  EXPECT_EQ(model.status(), "Saved to out.png");
  EXPECT_TRUE(model.records().empty());  // exporting does not touch the history

  // A folder that cannot be written: the error is shown, the status stays.
  harness.prompts.exportAnswer = harness.root / "missing" / "out.png";
  awaitTask(model.exportCapture());
  ASSERT_TRUE(model.error());
  EXPECT_TRUE(model.error()->contains("missing")) << model.error()->toStdString();
  EXPECT_EQ(model.status(), "Saved to out.png");
}

TEST_F(AppModelTest, ChooserListsOthersNormalWindowsLargerThan60Points) {
  const auto window = [](uint32_t id, int32_t pid, double width, double height, int layer = 0) {
    return ShareableWindow{id, "w", Rect{0, 0, width, height}, OwningApplication{pid, "App"}, layer, 1};
  };
  ShareableWindow unowned = window(6, 0, 400, 400);
  unowned.owningApplication.reset();
  const std::vector<ShareableWindow> windows = {window(1, 10, 61, 61),      window(2, 10, 60, 400),
                                                window(3, 10, 400, 60),     window(4, ownPid, 400, 400),
                                                window(5, 10, 400, 400, 8), unowned};
  const auto kept = CaptureWorkflow::choosableWindows(windows, ownPid);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].windowID, 1u);
  EXPECT_EQ(kept[1].windowID, 6u);
}

}  // namespace
}  // namespace lumacap
