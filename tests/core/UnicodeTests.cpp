#include <gtest/gtest.h>

#include "core/Unicode.h"

namespace lumacap::unicode {
namespace {

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
  EXPECT_EQ(foldDiacriticsAndWidth("Café Déjà Vu"), "Cafe Deja Vu");
  EXPECT_EQ(foldDiacriticsAndWidth("ＡＢｃ１"), "ABc1");
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

}  // namespace
}  // namespace lumacap::unicode
