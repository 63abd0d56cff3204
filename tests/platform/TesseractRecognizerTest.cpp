#include "platform/linux/TesseractRecognizer.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <thread>

#include "support/RenderedText.h"
#include "support/ScopedEnvironment.h"
#include "support/SecretCorpus.h"

using namespace lumacap;
using lumacap::test::renderedText;

namespace {

const QStringList clearLines = {"Cannot connect to server", "Retry later please"};
const std::vector<std::string> clearTexts = {"Cannot connect to server", "Retry later please"};

std::vector<std::string> texts(const std::vector<RecognizedLine>& lines) {
  std::vector<std::string> result;
  for (const RecognizedLine& line : lines) result.push_back(line.text);
  return result;
}

}  // namespace

TEST(TesseractRecognizer, ReadsLinesInReadingOrderWithConfidenceAndBounds) {
  const QImage image =
      renderedText({"Build failed — Console", "Cannot connect to server", "Retry later please"});
  const std::vector<RecognizedLine> lines = TesseractRecognizer().recognize(image);

  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text.rfind("Build failed", 0), 0u) << lines[0].text;
  EXPECT_EQ(lines[1].text, "Cannot connect to server");
  EXPECT_EQ(lines[2].text, "Retry later please");
  for (const RecognizedLine& line : lines) {
    EXPECT_GE(line.confidence, 0.65f) << line.text;
    EXPECT_LE(line.confidence, 1.0f) << line.text;
    EXPECT_TRUE(image.rect().contains(line.bounds)) << line.text;
    // 30-pixel text: the line box spans roughly ascender to descender.
    EXPECT_GT(line.bounds.height(), 15) << line.text;
    EXPECT_LT(line.bounds.height(), 60) << line.text;
  }
  EXPECT_LT(lines[0].bounds.top(), lines[1].bounds.top());
  EXPECT_LT(lines[1].bounds.top(), lines[2].bounds.top());
}

TEST(TesseractRecognizer, ReadsImagesOfEveryPixelFormatAndRowPadding) {
  TesseractRecognizer recognizer;
  // 1201 pixels wide: rows of 8-bit and 24-bit pixels are then padded, so the
  // row length differs from the width times the pixel size.
  test::TextImageStyle oddWidth;
  oddWidth.size = {1201, 300};
  const QImage source = renderedText(clearLines, oddWidth);
  for (const QImage::Format format :
       {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_RGB888, QImage::Format_BGR888,
        QImage::Format_RGB16, QImage::Format_Grayscale8, QImage::Format_Grayscale16, QImage::Format_Indexed8,
        QImage::Format_Mono, QImage::Format_RGBA64, QImage::Format_RGBX8888}) {
    const QImage image = source.convertToFormat(format);
    ASSERT_EQ(image.format(), format);
    EXPECT_EQ(texts(recognizer.recognize(image)), clearTexts) << "format " << format;
  }
}

TEST(TesseractRecognizer, ReadsTextOnATransparentBackgroundAsOnWhite) {
  // Transparent pixels hold black; read without their alpha, black text on
  // them would vanish.
  test::TextImageStyle style;
  style.background = Qt::transparent;
  const QImage image = renderedText(clearLines, style);
  ASSERT_EQ(qAlpha(image.pixel(0, 0)), 0);
  EXPECT_EQ(texts(TesseractRecognizer().recognize(image)), clearTexts);

  const QImage prepared = TesseractRecognizer::preparedImage(image);
  EXPECT_EQ(prepared.format(), QImage::Format_Grayscale8);
  EXPECT_EQ(qGray(prepared.pixel(0, 0)), 255);
}

TEST(TesseractRecognizer, ReadsLightTextOnADarkBackground) {
  const QImage image = renderedText({"make: *** [Makefile:31: build] Error 1", "Cannot connect to server"},
                                    test::darkTerminal());
  TesseractRecognizer recognizer;
  const auto lines = recognizer.recognize(image);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].text, "Cannot connect to server");
  EXPECT_GE(lines[1].confidence, 0.65f);
  // A released engine loads again for the next recognition.
  recognizer.releaseResources();
  EXPECT_EQ(texts(recognizer.recognize(image)), texts(lines));

  // Dark images reach Tesseract as dark text on light.
  const QImage prepared = TesseractRecognizer::preparedImage(image);
  EXPECT_GT(qGray(prepared.pixel(0, 0)), 200);
  EXPECT_EQ(qGray(TesseractRecognizer::preparedImage(renderedText({})).pixel(0, 0)), 255);
}

TEST(TesseractRecognizer, EmptyImagesGiveNoLines) {
  TesseractRecognizer recognizer;
  EXPECT_TRUE(recognizer.recognize(QImage()).empty());
  QImage single(1, 1, QImage::Format_RGB32);
  single.fill(Qt::white);
  EXPECT_TRUE(recognizer.recognize(single).empty());
  EXPECT_TRUE(recognizer.recognize(renderedText({})).empty());
  // The engine is still usable afterwards.
  EXPECT_EQ(texts(recognizer.recognize(renderedText(clearLines))), clearTexts);
}

// Without the data where the user says it is, there are no lines instead of a failure.
TEST(TesseractRecognizer, FindsTheEnglishDataInDebiansFolderOrWhereTheUserSays) {
  test::ScopedEnvironment environment({{"TESSDATA_PREFIX", std::nullopt}});
  EXPECT_EQ(TesseractRecognizer::tessdataFolder(), "/usr/share/tesseract-ocr/5/tessdata");

  environment.set("TESSDATA_PREFIX", "/usr/share/tesseract-ocr/5/tessdata/");
  EXPECT_EQ(TesseractRecognizer::tessdataFolder(), std::nullopt);
  EXPECT_EQ(texts(TesseractRecognizer().recognize(renderedText(clearLines))), clearTexts);

  QTemporaryDir emptyFolder;
  ASSERT_TRUE(emptyFolder.isValid());
  environment.set("TESSDATA_PREFIX", emptyFolder.path().toStdString());
  TesseractRecognizer recognizer;
  EXPECT_TRUE(recognizer.recognize(renderedText(clearLines)).empty());
  EXPECT_TRUE(recognizer.recognize(renderedText(clearLines)).empty());
}

TEST(TesseractRecognizer, CallsFromSeveralThreadsTakeTurns) {
  const auto recognizer = TesseractRecognizer::shared();
  EXPECT_EQ(recognizer, TesseractRecognizer::shared());
  const QImage image = renderedText(clearLines);
  std::vector<std::string> first, second;
  std::thread other([&] { second = texts(recognizer->recognize(image)); });
  first = texts(recognizer->recognize(image));
  other.join();
  EXPECT_EQ(first, clearTexts);
  EXPECT_EQ(second, clearTexts);
}

TEST(TesseractRecognizer, GivesEachLinesWordsWithTheirBoxes) {
  const QImage image = renderedText({"Cannot connect to server"});
  const std::vector<RecognizedLine> lines = TesseractRecognizer().recognize(image);
  ASSERT_EQ(lines.size(), 1u);
  std::vector<std::string> words;
  int right = 0;
  for (const RecognizedWord& word : lines[0].words) {
    words.push_back(word.text);
    EXPECT_TRUE(lines[0].bounds.contains(word.bounds)) << word.text;
    EXPECT_GT(word.bounds.left(), right) << "words in reading order, apart";
    right = word.bounds.right();
  }
  EXPECT_EQ(words, (std::vector<std::string>{"Cannot", "connect", "to", "server"}));
}

// A terminal's glyphs not read before are read in short pieces of their
// lines, many laid into one line: its first reading is already spelled from
// them, the second from what they taught, each character's box its ink.
TEST(TesseractRecognizer, SpellsTerminalLinesFromGlyphsReadInPiecesWithBoxesOnTheirInk) {
  test::CorpusPage page = test::ordinaryPage(5, 1, true, 30);
  page.lines << page.lines;  // every glyph read more than once
  const QImage image = test::renderedPage(page);
  TesseractRecognizer recognizer(TesseractRecognizer::Layout::glyphPieces);
  const std::vector<RecognizedLine> first = recognizer.recognize(image);
  const TesseractRecognizer::GlyphStats firstStats = recognizer.lastGlyphStats();
  const std::vector<RecognizedLine> second = recognizer.recognize(image);
  EXPECT_GT(firstStats.piecesTaught, 0u);
  EXPECT_GT(firstStats.spelled, firstStats.read);
  const double advance = test::corpusAdvance(page);
  const int margin = test::corpusMargin(page), height = test::corpusLineHeight(page);
  for (const std::vector<RecognizedLine>* reading : {&first, &second}) {
    int exact = 0, same = 0;
    for (const RecognizedLine& line : *reading) {
      const QString& written = page.lines[(line.bounds.center().y() - margin) / height];
      same += line.text == written.simplified().toStdString();
      bool hugs = true;
      for (const RecognizedWord& word : line.words) {
        const QString text = QString::fromStdString(word.text);
        hugs = hugs && static_cast<size_t>(text.size()) == word.glyphs.size();
        for (size_t i = 0; hugs && i < word.glyphs.size(); ++i) {
          const QRect& glyph = word.glyphs[i];
          const int column = static_cast<int>((glyph.center().x() - margin) / advance);
          const double left = margin + advance * column;
          hugs = written[column] == text[static_cast<int>(i)] && glyph.left() >= left - 2 &&
                 glyph.right() < left + advance + 2 &&
                 glyph.top() >= margin + height * ((glyph.top() - margin) / height);
        }
      }
      exact += hugs;
    }
    EXPECT_GE(exact, static_cast<int>(reading->size()) * 2 / 3) << "of " << reading->size() << " lines";
    EXPECT_GE(same, static_cast<int>(reading->size()) * 2 / 3) << "of " << reading->size() << " lines";
  }
}
