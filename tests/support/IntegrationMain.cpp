#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <cstring>
#include <memory>

#include "OpenMPThreads.h"
#include "support/AwaitTask.h"
#include "support/IntegrationMain.h"

namespace lumacap::test {
namespace {
XServer* sharedServer = nullptr;
}

XServer& sharedXServer() {
  if (!sharedServer) throw std::runtime_error("no shared X server in this process");
  return *sharedServer;
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

// Integration tests run against a real X server: each test process starts its
// own Xvfb with openbox and a system tray, then a QApplication on it.
int main(int argc, char** argv) {
  lumacap::test::restartWithOneOpenMPThreadUnlessChosen(argv);
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  // Xvfb, openbox, trayer and the clients end with this process, however it ends.
  lumacap::test::killRecordedGroupsOnSignals();

  lumacap::test::XServer::Options options;
  options.systemTray = true;
  auto server = std::make_unique<lumacap::test::XServer>(options);
  lumacap::test::sharedServer = server.get();
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  int status = 0;
  {
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Lumacap");
    QApplication::setApplicationName("Lumacap");
    status = RUN_ALL_TESTS();
  }
  lumacap::test::sharedServer = nullptr;
  return status;
}
