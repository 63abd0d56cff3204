#pragma once

#include "support/XServer.h"

namespace lumacap::test {

// The X server this integration-test process runs against ($DISPLAY is set to
// it before the QApplication starts).
XServer& sharedXServer();

}  // namespace lumacap::test
