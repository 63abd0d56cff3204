#include <gtest/gtest.h>

#include "platform/x11/X11ScreenSource.h"

namespace lumacap {
namespace {

// xterm and other Xlib clients write titles beyond Latin-1 as compound text.
TEST(WindowTitle, CompoundTextBecomesUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"make -j2", "make -j2"},
      {"caf\xe9", "café"},                                              // Latin-1 by default
      {"Build log \x1b%G\xe2\x80\x94\x1b%@ make", "Build log — make"},  // a UTF-8 segment
      {"\x1b%G\xe6\x97\xa5\xe6\x9c\xac", "日本"},                       // UTF-8 to the end
      {"a\x1b$)A\xc4\xe3\x1b-Ab",
       "a\xef\xbf\xbd"
       "b"},                           // GB 2312: unknown here
      {"tab\there\x9b", "tab\there"},  // C1 controls dropped
      {"cut \x1b%", "cut "},           // a truncated escape
  };
  for (const auto& [compound, utf8] : cases) EXPECT_EQ(compoundTextToUtf8(compound), utf8) << compound;
  EXPECT_EQ(latin1ToUtf8("\xe9t\xe9"), "été");
}

}  // namespace
}  // namespace lumacap
