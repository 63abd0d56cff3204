#include <gtest/gtest.h>

#include "core/StagingText.h"

namespace lumacap {
namespace {

TEST(StagingTextTest, PathAndTrimmedMessage) {
  EXPECT_EQ(StagingText::make("/tmp/shot 1.png", "  fix the header \n"),
            "Please inspect the local screenshot at \"/tmp/shot 1.png\".\n\nfix the header");
  EXPECT_EQ(StagingText::make("/tmp/a.png", "line one\n\nline two"),
            "Please inspect the local screenshot at \"/tmp/a.png\".\n\nline one\n\nline two");
}

TEST(StagingTextTest, EmptyMessageEndsWithTheSentence) {
  for (const char* empty : {"", "   ", "\n\r\n\t ", "\u00a0\u2028"}) {
    EXPECT_EQ(StagingText::make("/tmp/a.png", empty),
              "Please inspect the local screenshot at \"/tmp/a.png\".");
  }
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

}  // namespace
}  // namespace lumacap
