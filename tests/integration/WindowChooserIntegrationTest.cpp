#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QListWidget>
#include <QProcess>
#include <QWindow>
#include <sstream>

#include "app/AppModel.h"
#include "app/AppServices.h"
#include "app/views/WindowChooser.h"
#include "support/AwaitTask.h"
#include "support/IntegrationMain.h"
#include "support/TemporaryHome.h"

namespace lumacap {
namespace {

using test::processEventsUntil;
using test::sharedXServer;

// The clipboard's PNG, read by xclip while this process serves the selection it owns.
QImage clipboardImage() {
  QProcess xclip;
  xclip.start("xclip", {"-selection", "clipboard", "-t", "image/png", "-o"});
  // (waitForFinished says false once the event loop has seen the process end.)
  processEventsUntil([&] { return xclip.state() == QProcess::NotRunning || xclip.waitForFinished(5); });
  return QImage::fromData(xclip.readAllStandardOutput(), "PNG");
}

QSize sizeOf(unsigned long window) {
  const auto info = sharedXServer().run({"xwininfo", "-id", std::to_string(window)});
  QSize size;
  std::istringstream lines(info.standardOutput);
  for (std::string line; std::getline(lines, line);) {
    if (const auto at = line.find("Width:"); at != std::string::npos)
      size.setWidth(std::stoi(line.substr(at + 6)));
    if (const auto at = line.find("Height:"); at != std::string::npos)
      size.setHeight(std::stoi(line.substr(at + 7)));
  }
  return size;
}

TEST(WindowChooserIntegration, ChoosingAnXtermCopiesExactlyThatWindow) {
  test::TemporaryHome home;
  auto& server = sharedXServer();
  auto& small =
      server.start({"xterm", "-T", "chooser small", "-geometry", "50x12+20+20", "-e", "sleep", "600"});
  auto& large =
      server.start({"xterm", "-T", "chooser large", "-geometry", "90x30+400+80", "-e", "sleep", "600"});
  const auto smallWindow = server.waitForWindow("XTerm", small.pid());
  ASSERT_TRUE(smallWindow && server.waitForWindow("XTerm", large.pid()));

  AppServices services;
  AppModel& model = services.model();
  model.capture(CaptureMode::window);
  WindowChooser* chooser = nullptr;
  ASSERT_TRUE(processEventsUntil([&] {
    chooser = dynamic_cast<WindowChooser*>(model.chooserWindow());
    return chooser && chooser->windowHandle() && chooser->windowHandle()->isExposed();
  })) << "the window chooser never appeared";
  processEventsUntil([] { return false; }, std::chrono::milliseconds(300));

  const auto& windows = chooser->windows();
  const auto row = std::find_if(windows.begin(), windows.end(), [](const ShareableWindow& window) {
    return window.title == "chooser small";
  });
  ASSERT_NE(row, windows.end()) << "the small xterm is not listed";
  QListWidget& list = *chooser->list();
  const QRect rect = list.visualRect(list.model()->index(static_cast<int>(row - windows.begin()), 0));
  const QPoint at = list.viewport()->mapToGlobal(rect.center());
  server.run({"xdotool", "mousemove", std::to_string(at.x()), std::to_string(at.y()), "click", "1"});

  ASSERT_TRUE(processEventsUntil([&] {
    return !server.run({"xdotool", "search", "--onlyvisible", "--name", "^Capture copied$"})
                .standardOutput.empty();
  })) << "the thumbnail is not mapped";
  EXPECT_FALSE(chooser->isVisible());
  const QImage copied = clipboardImage();
  EXPECT_EQ(copied.size(), sizeOf(*smallWindow)) << "the clipboard does not hold the small xterm";
  // The suggested name is worked out on a worker; let it end before the services go.
  EXPECT_TRUE(processEventsUntil([&] { return !model.naming(); }, std::chrono::seconds(30)));
}

}  // namespace
}  // namespace lumacap
