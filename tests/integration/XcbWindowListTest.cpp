#include "platform/x11/XcbWindowList.h"

#include <gtest/gtest.h>

#include "support/IntegrationMain.h"

namespace lumacap {
namespace {

TEST(XcbWindowListTest, NamesTheApplicationOwningAManagedWindow) {
  auto& server = test::sharedXServer();
  auto& terminal = server.start({"xterm", "-class", "HookTerm"});
  ASSERT_TRUE(server.waitForWindow("HookTerm", terminal.pid()));

  XcbWindowList windows(server.display());
  EXPECT_EQ(windows.application(terminal.pid()), (RunningApplication{terminal.pid(), "HookTerm"}));
  EXPECT_EQ(windows.application(1), std::nullopt);

  XcbWindowList unreachable(":9999");
  EXPECT_EQ(unreachable.application(terminal.pid()), std::nullopt);
}

}  // namespace
}  // namespace lumacap
