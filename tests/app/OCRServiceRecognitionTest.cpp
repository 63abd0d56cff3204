// Names suggested through the real recognizer, from images drawn the way
// windows show text.
#include <gtest/gtest.h>

#include "app/OCRService.h"
#include "core/FilenameGenerator.h"
#include "platform/linux/TesseractRecognizer.h"
#include "support/AwaitTask.h"
#include "support/RenderedText.h"

using namespace lumacap;
using lumacap::test::renderedText;

namespace {

const Date captureDate = Date::fromUnixSeconds(1796464027);

std::string suggest(const QImage& image, std::optional<std::string> application = std::nullopt,
                    std::optional<std::string> windowTitle = std::nullopt) {
  return test::awaitTask(
      OCRService(TesseractRecognizer::shared()).suggestedName(image, application, windowTitle, captureDate));
}

}  // namespace

TEST(OCRServiceRecognition, NamesFromATitleLineInTheImage) {
  EXPECT_EQ(suggest(renderedText({"Build failed — Console"})), "build-failed-console.png");
}

TEST(OCRServiceRecognition, NamesFromTheFirstTerminalLineWithTwoUsableWords) {
  const QStringList lines = {"Error 404", "Cannot connect to server", "Retry later please"};
  EXPECT_EQ(suggest(renderedText(lines, test::darkTerminal())), "cannot-connect-server.png");
  test::TextImageStyle lightTerminal = test::darkTerminal();
  std::swap(lightTerminal.text, lightTerminal.background);
  EXPECT_EQ(suggest(renderedText(lines, lightTerminal)), "cannot-connect-server.png");
}

TEST(OCRServiceRecognition, AWindowTitleWinsOverTheText) {
  EXPECT_EQ(suggest(renderedText({"Cannot connect to server"}), "XTerm", "Build failed — Console"),
            "build-failed-console.png");
}

TEST(OCRServiceRecognition, AnImageWithoutTextIsNamedFromTitleOrApplication) {
  const QImage blank = renderedText({});
  EXPECT_EQ(suggest(blank, std::nullopt, "Build failed — Console"), "build-failed-console.png");
  const std::string name = suggest(blank, "Note Taker");
  EXPECT_EQ(name, FilenameGenerator().filename({}, "Note Taker", std::nullopt, captureDate));
  EXPECT_EQ(name.rfind("note-taker-", 0), 0u);
}

TEST(OCRServiceRecognition, TextBelowTheMinimumHeightIsIgnored) {
  // Text whose line box is about 10 pixels high: readable in a 400-pixel-high
  // image, below 0.008 of a 1600-pixel-high one (12.8 pixels).
  test::TextImageStyle style;
  style.pixelSize = 14;
  EXPECT_EQ(suggest(renderedText({"Cannot connect to server"}, style)), "cannot-connect-server.png");
  style.size = {1200, 1600};
  EXPECT_EQ(suggest(renderedText({"Cannot connect to server"}, style), "Note Taker"),
            FilenameGenerator().filename({}, "Note Taker", std::nullopt, captureDate));
}
