// Secrets on rendered terminal screens, read by the real recognizer and
// looked for by the detector: a sample of the corpus's conditions that
// bench/secrets_bench (--table) scores in full.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <list>
#include <map>
#include <set>

#include "app/model/OCRService.h"
#include "core/GlyphGrid.h"
#include "core/GlyphSnippets.h"
#include "core/SecretCandidates.h"
#include "platform/linux/TesseractRecognizer.h"
#include "support/RenderedText.h"
#include "support/SecretCorpus.h"

using namespace lumacap;
using namespace lumacap::test;

namespace {

std::vector<SecretFinding> findingsOf(const QImage& image) {
  const std::vector<RecognizedLine> lines = TesseractRecognizer::shared()->recognizeSecretCandidates(image);
  if (std::getenv("LUMACAP_SECRETS_VERBOSE")) {
    for (const RecognizedLine& line : lines)
      std::cout << "  | " << line.bounds.y() << " " << line.text << "\n";
  }
  return SecretDetector::find(OCRService::textLines(lines),
                              Rect{0, 0, double(image.width()), double(image.height())});
}

}  // namespace

// What the pixels say can hold a secret holds as much of every secret of
// the corpus as the lines found do, whole or cut, in every font, at 10
// pixels too, with less read than all.
TEST(SecretCorpus, CandidatesFromThePixelsHoldEverySecret) {
  unsigned seed = 900;
  for (const QString& family : corpusFamilies()) {
    for (int variant = 0; variant < 4; ++variant) {
      CorpusPage page = secretPage(++seed, 1 + variant % 2, variant < 2);
      page.family = family;
      page.pixels = 10 + 2 * variant;
      if (variant > 0) page = cutPage(page, variant == 1 ? Cut::left : Cut::right, seed);
      const QImage gray = renderedPage(page).convertToFormat(QImage::Format_Grayscale8);
      const GrayPixels pixels{gray.constBits(), gray.width(), gray.height(), gray.bytesPerLine()};
      std::vector<QRectF> lines, read;
      double readWidth = 0;
      for (const PixelRect& line : TextLineFinder::lines(pixels)) {
        lines.emplace_back(line.x, line.y, line.width, line.height);
        for (const PixelRect& span : SecretCandidates::spans(pixels, line)) {
          read.emplace_back(span.x, span.y, span.width, span.height);
          readWidth += span.width;
        }
      }
      for (const PlantedSecret& secret : page.secrets) {
        for (const QRectF& rect : plantedRects(page, secret))
          EXPECT_GE(coveredShare(rect, read), coveredShare(rect, lines) - 0.01)
              << SecretDetector::name(secret.kind) << " in " << family.toStdString() << ", variant "
              << variant;
      }
      double lineWidth = 0;
      for (const QRectF& line : lines) lineWidth += line.width();
      EXPECT_LT(readWidth, lineWidth) << family.toStdString() << ", variant " << variant;
    }
  }
  // Reading the rest after the candidates gives every line as reading it whole.
  CorpusPage page = ordinaryPage(7, 1, true, 12);
  CorpusRandom random(8);
  page.lines << secretSnippet(SecretKind::awsSecretKey, random).lines;
  const QImage image = renderedPage(page);
  TesseractRecognizer& recognizer = *TesseractRecognizer::shared();
  const std::vector<RecognizedLine> whole = recognizer.recognize(image);
  recognizer.recognizeSecretCandidates(image);
  const std::vector<RecognizedLine> rest = recognizer.recognize(image);
  ASSERT_EQ(rest.size(), whole.size());
  int same = 0;
  for (size_t i = 0; i < whole.size(); ++i) same += rest[i].text == whole[i].text;
  EXPECT_GE(same, int(whole.size()) - 1);
}

// Terminal lines sit on a grid of the font's advance, in any colour: every
// cell holds the character written there, one key stands for one character
// only (a character has a key per position within a pixel, four in Qt),
// and a line in a proportional font is no grid.
TEST(SecretCorpus, GlyphGridCutsMonospacedLinesIntoKeyedCells) {
  for (const auto& [family, pixels, dark] :
       {std::tuple{"DejaVu Sans Mono", 14, true}, {"Liberation Mono", 12, false}}) {
    CorpusPage page = ordinaryPage(11, 1, dark, 24);
    page.family = family;
    page.pixels = pixels;
    const QImage gray = renderedPage(page).convertToFormat(QImage::Format_Grayscale8);
    const GrayPixels image{gray.constBits(), gray.width(), gray.height(), gray.bytesPerLine()};
    std::map<uint64_t, std::set<QChar>> characters;
    std::map<QChar, std::set<uint64_t>> keys;
    const GridLine* hint = nullptr;
    std::list<GridLine> grids;
    int inked = 0, offGrid = 0;  // short pieces (`db`) may not tell
    for (const PixelRect& line : TextLineFinder::lines(image)) {
      std::optional<GridLine> grid = GlyphGrid::cut(image, line, hint);
      if (!grid && ++offGrid) continue;
      hint = &grids.emplace_back(*grid);
      EXPECT_NEAR(grid->pitch, corpusAdvance(page), 0.05) << family;
      const QString& written =
          page.lines[(line.y + line.height / 2 - corpusMargin(page)) / corpusLineHeight(page)];
      for (const GlyphCell& cell : grid->cells) {
        if (!cell.key) continue;
        ++inked;
        const QChar character =
            written[int((cell.ink.x + cell.ink.width / 2.0 - corpusMargin(page)) / corpusAdvance(page))];
        characters[cell.key].insert(character);
        keys[character].insert(cell.key);
        EXPECT_GE(cell.ink.x, cell.from);
        EXPECT_LE(cell.ink.x + cell.ink.width, cell.to);
      }
    }
    EXPECT_LE(offGrid, 2);
    EXPECT_GE(inked, page.lines.join("").remove(' ').size() - 10) << family;
    for (const auto& [key, written] : characters) EXPECT_EQ(written.size(), 1u) << family;
    EXPECT_LE(characters.size(), keys.size() * 5) << family;  // ink cut where glyphs touch varies too

    // Pieces laid into snippet lines keep each glyph's ink in its cell and
    // spaces blank. The characters written there, laid over the pieces'
    // words, teach each key its own; words laid a cell off teach nothing
    // where some of their glyphs are known.
    const auto truth = [&](uint64_t key) { return QString(*characters[key].begin()).toStdString(); };
    std::unordered_map<uint64_t, GlyphReading> known;
    std::vector<const GridLine*> lines;
    for (const GridLine& line : grids) lines.push_back(&line);
    size_t taught = 0;
    for (const SnippetLine& sheet : GlyphSnippets::lay(image, lines, known)) {
      std::vector<SnippetWord> words, off;
      for (size_t at = 0; at < sheet.grid.cells.size(); ++at) {
        const GlyphCell& cell = sheet.grid.cells[at];
        const PixelRect box =
            cell.key ? cell.ink : PixelRect{cell.from, 0, cell.to - cell.from, sheet.height};
        int darkest = 255;
        for (int y = box.y; y < box.y + box.height; ++y)
          for (int x = box.x; x < box.x + box.width; ++x)
            darkest = std::min<int>(darkest, sheet.pixels[size_t(y * sheet.width + x)]);
        EXPECT_TRUE(cell.key ? darkest < 128 : darkest > 160) << family << " " << darkest;
        if (!cell.key) continue;
        if (!sheet.grid.cells[at - 1].key) words.push_back({"", cell.ink.x, 0}), off.push_back(words.back());
        words.back().text += truth(cell.key);
        off.back().text = words.back().text.substr(1) + words.back().text.front();
        words.back().right = off.back().right = cell.ink.x + cell.ink.width - 1;
      }
      for (const auto& [key, character] : GlyphSnippets::taught(sheet, words, known)) {
        EXPECT_EQ(character, truth(key)) << family;
        known[key] = {character, 1};
        ++taught;
      }
      for (const auto& [key, character] : GlyphSnippets::taught(sheet, off, known))
        EXPECT_EQ(character, truth(key)) << family << ": a word a cell off taught";
    }
    EXPECT_GE(taught, keys.size()) << family;
  }
  const QImage proportional = renderedText({"Cannot connect to the server, please retry later"})
                                  .convertToFormat(QImage::Format_Grayscale8);
  const GrayPixels image{proportional.constBits(), proportional.width(), proportional.height(),
                         proportional.bytesPerLine()};
  const std::vector<PixelRect> lines = TextLineFinder::lines(image);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_FALSE(GlyphGrid::cut(image, lines[0]));
}

// A sample of the grid at 12 pixels and above: every font, dark and light,
// scales 1 and 2, whole and cut at each edge.
TEST(SecretCorpus, FindsSecretsWholeAndCutAtEachEdgeAndNothingOnOrdinaryScreens) {
  struct Condition {
    const char* family;
    int pixels, scale;
    bool dark;
    Cut cut;
  };
  const Condition sample[] = {
      {"DejaVu Sans Mono", 14, 1, true, Cut::whole}, {"Hack", 12, 2, false, Cut::whole},
      {"Liberation Mono", 16, 1, false, Cut::left},  {"Fira Code", 12, 1, true, Cut::left},
      {"Noto Mono", 12, 1, true, Cut::right},        {"DejaVu Sans Mono", 13, 2, false, Cut::right},
      {"Fira Code", 14, 1, false, Cut::top},         {"Hack", 13, 1, true, Cut::bottom}};
  std::map<Cut, std::pair<int, int>> score;  // found, planted
  int falseAlarms = 0;
  unsigned seed = 500;
  for (const Condition& condition : sample) {
    for (bool secrets : {true, false}) {
      CorpusPage page = secrets ? secretPage(++seed, condition.scale, condition.dark)
                                : ordinaryPage(++seed, condition.scale, condition.dark, 24);
      page.family = condition.family;
      page.pixels = condition.pixels;
      if (condition.cut != Cut::whole) page = cutPage(page, condition.cut, seed);
      const PageScore page_score = scorePage(page, findingsOf(renderedPage(page)));
      for (const auto& [kind, count] : page_score.planted) score[condition.cut].second += count;
      for (const auto& [kind, count] : page_score.found) {
        score[condition.cut].first += count;
        if (count < page_score.planted.at(kind))
          std::cout << "missed " << SecretDetector::name(kind) << " in " << condition.family << " "
                    << condition.pixels << " px, cut " << static_cast<int>(condition.cut) << "\n";
      }
      falseAlarms += static_cast<int>(page_score.falseAlarms.size());
    }
  }
  // Whole, this sample reads 30 of 30, cut 29 of 30 at the left and the
  // right; the grid's figures are bench/secrets_bench --table's.
  for (const auto& [cut, counts] : score) {
    EXPECT_GE(counts.first, counts.second * (cut == Cut::whole ? 0.95 : 0.9))
        << counts.first << " of " << counts.second << ", cut " << static_cast<int>(cut);
  }
  EXPECT_EQ(falseAlarms, 0);  // on the ordinary screens, and beside the secrets
}

// The same text gives the same findings with the same boxes whether the
// capture was a window, a region inside it or the display around it, and
// every box holds the secret's characters only, within 2 pixels: not the
// name before it, not the lines above and below.
TEST(SecretCorpus, BoxesHugTheSecretsWhateverWasCaptured) {
  const CorpusPage page = secretPage(77, 1, false);
  const QImage window = renderedPage(page);
  QImage display(window.width() + 300, window.height() + 200, QImage::Format_RGB32);
  display.fill(QColor(0x5b, 0x7f, 0xa3));
  QPainter(&display).drawImage(150, 120, window);
  const std::vector<SecretFinding> inWindow = findingsOf(window);
  const std::pair<QImage, QPoint> others[] = {{display, {150, 120}},
                                              {window.copy(window.rect().adjusted(6, 6, -6, -6)), {-6, -6}}};
  for (const auto& [image, offset] : others) {
    const std::vector<SecretFinding> found = findingsOf(image);
    ASSERT_EQ(inWindow.size(), found.size());
    for (size_t i = 0; i < inWindow.size(); ++i) {
      ASSERT_EQ(inWindow[i].boxes.size(), found[i].boxes.size());
      for (size_t b = 0; b < inWindow[i].boxes.size(); ++b) {
        const Rect& box = inWindow[i].boxes[b];
        const Rect& moved = found[i].boxes[b];
        EXPECT_NEAR(moved.x - offset.x(), box.x, 1) << SecretDetector::name(inWindow[i].kind);
        EXPECT_NEAR(moved.y - offset.y(), box.y, 1) << SecretDetector::name(inWindow[i].kind);
        EXPECT_NEAR(moved.width, box.width, 1) << SecretDetector::name(inWindow[i].kind);
      }
    }
  }
  const int lineHeight = corpusLineHeight(page);
  int boxes = 0;
  for (const PlantedSecret& secret : page.secrets) {
    for (const QRectF& ink : plantedRects(page, secret)) {
      const double row = std::floor((ink.top() - corpusMargin(page)) / lineHeight);
      for (const SecretFinding& finding : inWindow) {
        for (const Rect& box : finding.boxes) {
          if (!toQRectF(box).intersects(ink)) continue;
          ++boxes;
          const std::string name(SecretDetector::name(secret.kind));
          EXPECT_GE(box.x, ink.left() - 2) << name;
          EXPECT_LE(box.right(), ink.right() + 2) << name;
          EXPECT_GE(box.y, corpusMargin(page) + row * lineHeight - 2) << name;
          EXPECT_LE(box.bottom(), corpusMargin(page) + (row + 1) * lineHeight + 2) << name;
        }
      }
    }
  }
  EXPECT_EQ(boxes, 19);
}
