#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QThread>

#include "app/model/OCRService.h"
#include "core/FilenameGenerator.h"
#include "platform/fake/FakeTextRecognizer.h"
#include "platform/linux/TesseractRecognizer.h"
#include "support/AwaitTask.h"
#include "support/RenderedText.h"

using namespace lumacap;

namespace {

const Date captureDate = Date::fromUnixSeconds(1796464027);  // 2026-12-05 10:27:07 UTC

// A line tall enough for any image up to 1000 pixels high.
RecognizedLine line(std::string text, float confidence = 0.9f, int height = 20) {
  return {std::move(text), confidence, QRect(0, 0, 300, height)};
}

QImage blankImage(int width = 400, int height = 1000) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  return image;
}

std::string suggest(std::vector<RecognizedLine> lines, std::optional<std::string> application = std::nullopt,
                    std::optional<std::string> windowTitle = std::nullopt, QImage image = blankImage()) {
  auto recognizer = std::make_shared<FakeTextRecognizer>(std::move(lines));
  return test::awaitTask(OCRService(recognizer).suggestedName(image, application, windowTitle, captureDate));
}

std::string recognized(const QImage& image, std::optional<std::string> application = std::nullopt) {
  return test::awaitTask(
      OCRService(TesseractRecognizer::shared()).suggestedName(image, application, std::nullopt, captureDate));
}

QCoro::Task<std::string> suggestNotingThread(OCRService service, QImage image, QThread** resumedOn) {
  std::string name = co_await service.suggestedName(image, std::nullopt, std::nullopt, captureDate);
  *resumedOn = QThread::currentThread();
  co_return name;
}

}  // namespace

// Which words decide among usable lines is FilenameGenerator's to test; here,
// which lines are usable.
TEST(OCRService, UsesLinesFromConfidence065AndAMinimumTextHeightUp) {
  const auto fallback = FilenameGenerator().filename({}, "Note Taker", std::nullopt, captureDate);
  // 0.008 of 1000 pixels: 7 pixels is too small, 8 is enough.
  EXPECT_EQ(suggest({line("Ignored guess words", 0.64f), line("Cannot connect to server", 0.65f)}),
            "cannot-connect-server.png");
  EXPECT_EQ(suggest({line("Ignored guess words", 0.64f)}, "Note Taker"), fallback);
  EXPECT_EQ(suggest({line("Tiny footer words", 0.99f, 7), line("Visible heading words", 1.0f, 8)}),
            "visible-heading-words.png");
  EXPECT_EQ(suggest({line("Tiny footer words", 0.99f, 7)}, "Note Taker"), fallback);
  // The height rule scales with the image: 7 pixels is plenty in a 500-pixel image.
  EXPECT_EQ(suggest({line("Tiny footer words", 0.99f, 7)}, std::nullopt, std::nullopt, blankImage(400, 500)),
            "tiny-footer-words.png");
  const std::vector<RecognizedLine> lines = {line("Second"), line(""),          line("  \t"),
                                             line("First"),  line("low", 0.1f), line("Third")};
  EXPECT_EQ(OCRService::usableLines(lines, 1000), (std::vector<std::string>{"Second", "First", "Third"}));
}

// A title of two usable words wins over the lines, even when recognition failed.
TEST(OCRService, TakesTheThreeFieldsOfACaptureAndSurvivesAFailedRecognition) {
  struct Capture {
    QImage image;
    std::optional<std::string> application;
    std::optional<std::string> windowTitle;
  };
  auto recognizer = std::make_shared<FakeTextRecognizer>(std::vector{line("Cannot connect to server")});
  const OCRService service(recognizer);
  EXPECT_EQ(
      test::awaitTask(service.suggestedName(Capture{blankImage(50, 60), "XTerm", std::nullopt}, captureDate)),
      "cannot-connect-server.png");
  EXPECT_EQ(recognizer->lastImageSize(), QSize(50, 60));
  EXPECT_EQ(test::awaitTask(
                service.suggestedName(Capture{blankImage(), "XTerm", "Build failed — Console"}, captureDate)),
            "build-failed-console.png");

  recognizer->setFailing(true);
  EXPECT_EQ(test::awaitTask(service.suggestedName(blankImage(), "Note Taker", std::nullopt, captureDate)),
            FilenameGenerator().filename({}, "Note Taker", std::nullopt, captureDate));
  EXPECT_EQ(test::awaitTask(
                service.suggestedName(blankImage(), std::nullopt, "Build failed — Console", captureDate)),
            "build-failed-console.png");
  EXPECT_EQ(recognizer->calls(), 4);
}

// Names are read in the background, niced; the search for secrets, which the
// user waits for, at the caller's priority and not behind a name's reading.
TEST(OCRService, RecognizesOffTheGuiThreadAndResumesOnIt) {
  auto recognizer = std::make_shared<FakeTextRecognizer>(std::vector{line("Cannot connect to server")});
  recognizer->hold();
  QThread* resumedOn = nullptr;
  const OCRService service(recognizer);
  QCoro::Task<std::string> task = suggestNotingThread(service, blankImage(321, 123), &resumedOn);
  // The caller is not blocked while the recognizer works.
  EXPECT_FALSE(task.isReady());
  recognizer->setCandidateLines({line("AWS_SECRET_ACCESS_KEY=q8Vr2Lx9Tz4Wm7Kp1Nf6Hj3Bd5Gs0Yc8Ea2Uo4Ri")});
  EXPECT_EQ(test::awaitTask(service.secretCandidates(blankImage())).secrets.size(), 1u);
  EXPECT_NE(recognizer->lastThread(), QCoreApplication::instance()->thread());
  EXPECT_EQ(recognizer->lastNiceness(), ::getpriority(PRIO_PROCESS, 0));
  EXPECT_FALSE(task.isReady());
  recognizer->release();

  EXPECT_EQ(test::awaitTask(std::move(task)), "cannot-connect-server.png");
  EXPECT_EQ(resumedOn, QCoreApplication::instance()->thread());
  EXPECT_NE(recognizer->lastThread(), QCoreApplication::instance()->thread());
  EXPECT_GT(recognizer->lastNiceness(), ::getpriority(PRIO_PROCESS, 0));
  EXPECT_EQ(recognizer->lastImageSize(), QSize(321, 123));
}

TEST(OCRService, FinishesAfterTheServiceThatStartedItIsGone) {
  auto recognizer = std::make_shared<FakeTextRecognizer>(std::vector{line("Cannot connect to server")});
  recognizer->hold();
  std::optional<QCoro::Task<std::string>> task;
  {
    const OCRService service(recognizer);
    task.emplace(service.suggestedName(blankImage(), std::nullopt, std::nullopt, captureDate));
  }
  recognizer->release();
  EXPECT_EQ(test::awaitTask(std::move(*task)), "cannot-connect-server.png");
}

// Names suggested through the real recognizer, from images drawn the way
// windows show text.
TEST(OCRServiceRecognition, NamesFromTheFirstTerminalLineWithTwoUsableWords) {
  const QStringList lines = {"Error 404", "Cannot connect to server", "Retry later please"};
  test::TextImageStyle lightTerminal = test::darkTerminal();
  std::swap(lightTerminal.text, lightTerminal.background);
  for (const test::TextImageStyle& style : {test::darkTerminal(), lightTerminal})
    EXPECT_EQ(recognized(test::renderedText(lines, style)), "cannot-connect-server.png");
}

TEST(OCRServiceRecognition, TextBelowTheMinimumHeightIsIgnored) {
  // Text whose line box is about 10 pixels high: readable in a 400-pixel-high
  // image, below 0.008 of a 1600-pixel-high one (12.8 pixels).
  test::TextImageStyle style;
  style.pixelSize = 14;
  EXPECT_EQ(recognized(test::renderedText({"Cannot connect to server"}, style)), "cannot-connect-server.png");
  style.size = {1200, 1600};
  EXPECT_EQ(recognized(test::renderedText({"Cannot connect to server"}, style), "Note Taker"),
            FilenameGenerator().filename({}, "Note Taker", std::nullopt, captureDate));
}
