// Texts: Unicode helpers, suggested file names and the text staged for an agent.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/FilenameGenerator.h"
#include "core/StagingText.h"
#include "core/Unicode.h"
#include "support/ScopedEnvironment.h"

namespace lumacap {
namespace {

using namespace unicode;

TEST(UnicodeTest, CountsUserPerceivedCharacters) {
  EXPECT_EQ(graphemeCount(""), 0u);
  EXPECT_EQ(graphemeCount("abc"), 3u);
  EXPECT_EQ(graphemeCount("e\u0301"), 1u);             // e + combining acute
  EXPECT_EQ(graphemeCount("👩‍👩‍👧"), 1u);  // family emoji, joined
  EXPECT_EQ(graphemeCount("🇫🇷🇩🇪"), 2u);                // two flags
  EXPECT_EQ(graphemeCount("\r\n"), 1u);
  EXPECT_EQ(graphemeCount(std::string("\xff\xfe", 2)), 2u);  // invalid bytes count one each
}

TEST(UnicodeTest, FoldsDiacriticsAndWidthButNotCase) {
  EXPECT_EQ(foldDiacriticsAndWidth("Café ＡＢｃ１"), "Cafe ABc1");
  EXPECT_EQ(foldDiacriticsAndWidth("한국어"), "한국어");  // Hangul is recomposed
  EXPECT_EQ(lowercased("ÀÉÎ ABC Σ"), "àéî abc σ");
}

TEST(UnicodeTest, ClassifiesCharacters) {
  EXPECT_TRUE(isAlphanumeric(U'a'));
  EXPECT_TRUE(isAlphanumeric(U'語'));
  EXPECT_TRUE(isAlphanumeric(U'٣'));       // Arabic-Indic three
  EXPECT_TRUE(isAlphanumeric(U'\u0301'));  // combining mark
  EXPECT_FALSE(isAlphanumeric(U'-'));
  EXPECT_FALSE(isAlphanumeric(U'_'));
  EXPECT_FALSE(isAlphanumeric(U'🙂'));
  EXPECT_TRUE(isDecimalDigit(U'٣'));
  EXPECT_FALSE(isDecimalDigit(U'Ⅻ'));
  EXPECT_TRUE(isNumber(U'Ⅻ'));
  EXPECT_TRUE(isValidUtf8("ok ✓"));
  EXPECT_FALSE(isValidUtf8(std::string("\xc3", 1)));
}

TEST(StagingTextTest, PathAndTrimmedMessage) {
  const std::string sentence = "Please inspect the local screenshot at \"/tmp/a.png\".";
  EXPECT_EQ(StagingText::make("/tmp/a.png", "  fix the header \n"), sentence + "\n\nfix the header");
  EXPECT_EQ(StagingText::make("/tmp/a.png", "line one\n\nline two"), sentence + "\n\nline one\n\nline two");
  for (const char* empty : {"", "   ", "\n\r\n\t ", "\u00a0\u2028"})
    EXPECT_EQ(StagingText::make("/tmp/a.png", empty), sentence) << "an empty message adds nothing";
}

TEST(StagingTextTest, PathIsAnUnambiguousLiteral) {
  EXPECT_EQ(StagingText::quoted("/home/me/it's/a.png"), "\"/home/me/it\\'s/a.png\"");
  EXPECT_EQ(StagingText::quoted("/a\\b\"c"), "\"/a\\\\b\\\"c\"");
  EXPECT_EQ(StagingText::quoted(std::string("/a\tb\nc\rd\0e", 10)), "\"/a\\tb\\nc\\rd\\0e\"");
  EXPECT_EQ(StagingText::quoted("/tmp/été 語.png"), "\"/tmp/été 語.png\"");
  EXPECT_EQ(StagingText::quoted("/a\x1b"
                                "b"),
            "\"/a\\u{1b}b\"");
  // A combining mark right after the opening quote would merge with it.
  EXPECT_EQ(StagingText::quoted("\u0301x"), "\"\\u{301}x\"");
}

// A window title of two usable words or more names a capture, else the
// first line with two, else the application (or "capture") and the local
// time.
TEST(FilenameGeneratorTest, NamesFromTheTitleOrOneLineOrTheApplicationAndLocalTime) {
  const struct {
    std::vector<std::string> lines;
    std::optional<std::string> application, title;
    std::string name;
  } cases[] = {
      {{}, {}, "Build failed — Console", "build-failed-console.png"},
      {{"one two three four five six"}, {}, "Release notes", "release-notes.png"},
      {{"Cannot connect to server"}, {}, "Terminal", "cannot-connect-server.png"},  // one usable word
      {{"Error 404", "Cannot connect to server"}, {}, {}, "cannot-connect-server.png"},
      {{"error error warning the"}, {}, {}, "error-warning.png"},
      {{"alpha bravo charlie delta echo foxtrot golf"}, {}, {}, "alpha-bravo-charlie-delta-echo.png"},
      // Digits, short words, stop words and words of 24 letters or more are
      // skipped (23 still count); accents and full-width forms fold to their
      // base letters.
      {{"abc123 to https www untitled abcdefghijklmnopqrstuvwx kept words"}, {}, {}, "kept-words.png"},
      {{"abcdefghijklmnopqrstuvw word"}, {}, {}, "abcdefghijklmnopqrstuvw-word.png"},
      {{"Café Déjà"}, {}, {}, "cafe-deja.png"},
      {{"ＦＵＬＬ ｗｉｄｔｈ"}, {}, {}, "full-width.png"},
      {{}, "Note Taker", {}, "note-taker-2026-12-05-100707.png"},
      {{}, {}, {}, "capture-2026-12-05-100707.png"},
      {{}, "!!!", {}, "capture-2026-12-05-100707.png"},
      {{"404", "ok"}, "Firefox", {}, "firefox-2026-12-05-100707.png"},
      {{"alpha", "bravo"}, "Notes", {}, "notes-2026-12-05-100707.png"},  // one word each never combine
  };
  const Date instant = Date::fromUnixSeconds(1796465227);  // 2026-12-05 10:07:07 UTC
  {
    test::ScopedEnvironment environment({{"TZ", "UTC0"}});
    ::tzset();
    for (const auto& each : cases)
      EXPECT_EQ(FilenameGenerator().filename(each.lines, each.application, each.title, instant), each.name);
    environment.set("TZ", "CET-1");
    ::tzset();
    EXPECT_EQ(FilenameGenerator().filename({}, {}, {}, instant), "capture-2026-12-05-110707.png");
  }
  ::tzset();
}

TEST(FilenameGeneratorTest, StemNormalisesAnyName) {
  EXPECT_EQ(FilenameGenerator::stem("Café Déjà Vu"), "cafe-deja-vu");
  EXPECT_EQ(FilenameGenerator::stem("My Shot.png"), "my-shot");
  EXPECT_EQ(FilenameGenerator::stem("Shot.PNG"), "shot");
  EXPECT_EQ(FilenameGenerator::stem("my-shot"), "my-shot");
  EXPECT_EQ(FilenameGenerator::stem("IMG 2041"), "img-2041");
  EXPECT_EQ(FilenameGenerator::stem("../../etc/passwd"), "etc-passwd");
  EXPECT_EQ(FilenameGenerator::stem("report.final.png"), "report-final");
  for (const char* empty : {"", "---", ".png", "🙂"})
    EXPECT_EQ(FilenameGenerator::stem(empty), "capture") << empty;
}

TEST(FilenameGeneratorTest, StemIsBoundedInCharactersAndBytes) {
  EXPECT_EQ(FilenameGenerator::stem(std::string(200, 'a')), std::string(90, 'a'));
  std::string threeByteWord;
  for (int i = 0; i < 90; ++i) threeByteWord += "語";
  std::string expected;
  for (int i = 0; i < 60; ++i) expected += "語";
  EXPECT_EQ(FilenameGenerator::stem(threeByteWord), expected);
  // Cutting never leaves a trailing hyphen.
  EXPECT_EQ(FilenameGenerator::stem(std::string(89, 'a') + " b"), std::string(89, 'a'));
  // A combining mark stays with its letter when the cut falls there.
  std::string decomposed;
  for (int i = 0; i < 100; ++i) decomposed += "\u0915\u094D";  // Devanagari ka + virama
  const std::string stem = FilenameGenerator::stem(decomposed);
  EXPECT_LE(stem.size(), 180u);
  EXPECT_EQ(stem.size() % 6, 0u);
}

}  // namespace
}  // namespace lumacap
