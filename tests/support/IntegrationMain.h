#pragma once

#include <QByteArray>
#include <QString>

#include "support/XServer.h"

namespace lumacap::test {

// The X server this integration-test process runs against ($DISPLAY is set to
// it before the QApplication starts).
XServer& sharedXServer();

// The clipboard as `target` (image/png, UTF8_STRING, TARGETS, …), read by
// xclip while this process keeps serving a selection it may own.
QByteArray clipboard(const QString& target);

}  // namespace lumacap::test
