// The application's real services behind its settings window and window
// chooser, driven with the real pointer.
#include <gtest/gtest.h>

#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/gui/AppServices.h"
#include "app/model/AppModel.h"
#include "app/views/CountdownWindow.h"
#include "app/views/PreferencesView.h"
#include "app/views/WindowChooser.h"
#include "app/views/WindowPresenter.h"
#include "support/AwaitTask.h"
#include "support/IntegrationMain.h"
#include "support/TemporaryHome.h"

namespace lumacap {
namespace {

using test::processEventsUntil;
using test::sharedXServer;

class AppServicesIntegrationTest : public ::testing::Test {
 protected:
  // Waits until the window shows and the window manager has placed it.
  static bool shown(QWidget* window) {
    if (!processEventsUntil(
            [&] { return window && window->windowHandle() && window->windowHandle()->isExposed(); }))
      return false;
    test::processEventsFor(std::chrono::milliseconds(300));
    return true;
  }

  static void click(const QWidget& widget, const QPoint& at) {
    const QPoint global = widget.mapToGlobal(at);
    ASSERT_TRUE(sharedXServer().click(global.x(), global.y()));
  }

  test::TemporaryHome home;
  AppServices services;
  AppModel& model = services.model();
};

TEST_F(AppServicesIntegrationTest, InstallButtonAddsTheHooksToClaudeCodesSettings) {
  model.showSettings();
  auto& view = static_cast<PreferencesView&>(*services.windows().preferencesWindow());
  ASSERT_TRUE(shown(&view)) << "the settings window never appeared";

  ASSERT_NO_FATAL_FAILURE(click(*view.installButton(), view.installButton()->rect().center()));
  ASSERT_TRUE(processEventsUntil([&] { return !view.message().isEmpty(); }, std::chrono::seconds(20)))
      << "no message after clicking Install Session Hooks";
  EXPECT_TRUE(view.message().startsWith("Hooks installed.")) << view.message().toStdString();

  std::ifstream file(home.claudeFolder() / "settings.json");
  ASSERT_TRUE(file) << "no settings.json in CLAUDE_CONFIG_DIR";
  const nlohmann::json settings = nlohmann::json::parse(file);
  const std::string command =
      "'" + std::filesystem::read_symlink("/proc/self/exe").string() + "' --claude-hook";
  for (const char* event : {"SessionStart", "SessionEnd", "UserPromptSubmit", "Stop"}) {
    const auto& entries = settings.at("hooks").at(event);
    ASSERT_EQ(entries.size(), 1u) << event;
    EXPECT_EQ(entries[0].at("hooks")[0].at("command"), command) << event;
  }
  EXPECT_TRUE(view.installButton()->isEnabled());
}

TEST_F(AppServicesIntegrationTest, ChoosingAnXtermCopiesExactlyThatWindow) {
  auto& server = sharedXServer();
  auto& small =
      server.start({"xterm", "-T", "chooser small", "-geometry", "50x12+20+20", "-e", "sleep", "600"});
  auto& large =
      server.start({"xterm", "-T", "chooser large", "-geometry", "90x30+400+80", "-e", "sleep", "600"});
  const auto smallWindow = server.waitForWindow("XTerm", small.pid());
  ASSERT_TRUE(smallWindow && server.waitForWindow("XTerm", large.pid()));

  model.capture(CaptureMode::window);
  WindowChooser* chooser = nullptr;
  ASSERT_TRUE(processEventsUntil(
      [&] { return (chooser = dynamic_cast<WindowChooser*>(services.windows().chooserWindow())); }));
  ASSERT_TRUE(shown(chooser)) << "the window chooser never appeared";

  const auto& windows = chooser->windows();
  const auto row = std::find_if(windows.begin(), windows.end(), [](const ShareableWindow& window) {
    return window.title == "chooser small";
  });
  ASSERT_NE(row, windows.end()) << "the small xterm is not listed";
  QListWidget& list = *chooser->list();
  const QRect rect = list.visualRect(list.model()->index(static_cast<int>(row - windows.begin()), 0));
  ASSERT_NO_FATAL_FAILURE(click(*list.viewport(), rect.center()));

  ASSERT_TRUE(processEventsUntil([&] { return !server.windowsNamed("Capture copied").empty(); }))
      << "the thumbnail is not mapped";
  EXPECT_FALSE(chooser->isVisible());
  const test::XServer::Geometry xterm = server.geometry(*smallWindow);
  EXPECT_EQ(QImage::fromData(test::clipboard("image/png"), "PNG").size(), QSize(xterm.width, xterm.height))
      << "the clipboard does not hold the small xterm";
  // The suggested name is worked out on a worker; let it end before the services go.
  EXPECT_TRUE(processEventsUntil([&] { return !model.naming(); }, std::chrono::seconds(30)));
}

// The countdown shows until the capture reads the screen, and is never in
// the image; Esc cancels it.
TEST_F(AppServicesIntegrationTest, DelayedCaptureCountsDownOutsideTheImage) {
  CountdownWindow countdown(model.delayedCapture());
  model.delayedCapture().start(CaptureMode::display, 3);
  ASSERT_TRUE(shown(&countdown));
  QTest::keyClick(&countdown, Qt::Key_Escape);
  EXPECT_FALSE(countdown.isVisible());
  test::processEventsFor(std::chrono::milliseconds(3500));
  EXPECT_TRUE(model.image().isNull()) << "a cancelled countdown captured";

  model.delayedCapture().start(CaptureMode::display, 1);
  ASSERT_TRUE(shown(&countdown));
  const QPoint corner = countdown.mapToGlobal(QPoint(4, 4)) * countdown.devicePixelRatio();
  ASSERT_TRUE(processEventsUntil([&] { return !model.image().isNull(); }, std::chrono::seconds(20)));
  EXPECT_NE(model.image().pixelColor(corner), QColor(0x20, 0x24, 0x2c)) << "the countdown is in the image";
  EXPECT_FALSE(countdown.isVisible()) << "the countdown came back with the windows hidden for the capture";
  EXPECT_TRUE(processEventsUntil([&] { return !model.naming(); }, std::chrono::seconds(30)));
}

}  // namespace
}  // namespace lumacap
