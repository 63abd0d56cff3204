#include "platform/x11/XcbConnection.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace lumacap {
namespace {

using namespace std::string_view_literals;

TEST(XcbConnectionTest, TakesTheClassPartOfWMClass) {
  EXPECT_EQ(XcbConnection::classPart("xterm\0XTerm\0"sv), "XTerm");
  EXPECT_EQ(XcbConnection::classPart("kitty\0kitty"sv), "kitty");  // no final NUL
  EXPECT_EQ(XcbConnection::classPart("only-instance"sv), std::nullopt);
  EXPECT_EQ(XcbConnection::classPart("instance\0\0"sv), std::nullopt);
  EXPECT_EQ(XcbConnection::classPart(""sv), std::nullopt);
}

TEST(XcbConnectionTest, WithoutADisplayEveryQueryAnswersNothing) {
  XcbConnection connection(":9999");
  EXPECT_FALSE(connection.connected());
  EXPECT_EQ(connection.atom("_NET_ACTIVE_WINDOW"), static_cast<xcb_atom_t>(XCB_ATOM_NONE));
  EXPECT_TRUE(connection.managedWindows().empty());
  EXPECT_EQ(connection.activeWindow(), std::nullopt);
}

}  // namespace
}  // namespace lumacap
