#include "support/IntegrationMain.h"

#include <gtest/gtest.h>

#include <QProcess>

#include "support/AwaitTask.h"

namespace lumacap::test {

XServer& sharedXServer() {
  static XServer server;  // started by the test main, before the QApplication
  return server;
}

QByteArray clipboard(const QString& target) {
  QProcess xclip;
  xclip.start("xclip", {"-selection", "clipboard", "-t", target, "-o"});
  // (waitForFinished says false once the event loop has seen the process end.)
  if (!processEventsUntil([&] { return xclip.state() == QProcess::NotRunning || xclip.waitForFinished(5); }))
    ADD_FAILURE() << "xclip did not read the clipboard within 10 s";
  return xclip.readAllStandardOutput();
}

}  // namespace lumacap::test
