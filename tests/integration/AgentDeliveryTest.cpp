#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QWidget>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "app/AgentIntegration.h"
#include "app/AgentRouter.h"
#include "core/DataRoot.h"
#include "core/StagingText.h"
#include "platform/ProcessSource.h"
#include "platform/x11/QtPasteboard.h"
#include "platform/x11/X11Workspace.h"
#include "support/AwaitTask.h"
#include "support/IntegrationMain.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

bool waitServingEvents(const std::function<bool()>& condition) {
  return test::waitUntil([&] {
    QCoreApplication::processEvents();
    return condition();
  });
}

// The first child of `parent` running `command`, once there is one.
std::optional<ProcessIdentity> childRunning(int32_t parent, const std::string& command) {
  std::optional<ProcessIdentity> found;
  test::waitUntil([&] {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      const auto pid = static_cast<int32_t>(std::stol(name));
      if (ProcessSource::system().parent(pid) != parent) continue;
      found = ProcessSource::system().inspect(pid);
      if (found && found->executable == command) return true;
    }
    return false;
  });
  return found;
}

class AgentDeliveryTest : public ::testing::Test {
 protected:
  AgentDeliveryTest() {
    std::filesystem::create_directories(data / "applications");
    std::ofstream(data / "applications/other.desktop")
        << "[Desktop Entry]\nType=Application\nName=Other Terminal\nStartupWMClass=OtherTerm\n";
  }

  void activate(unsigned long window) {
    server.xdotool({"windowactivate", "--sync", std::to_string(window)});
    ASSERT_TRUE(waitServingEvents([&] { return server.activeWindow() == window; }));
  }

  // Two terminals: the host, an XTerm whose child stands for the agent, and
  // another application's terminal.
  struct Terminals {
    test::BackgroundProcess& host;
    unsigned long hostWindow;
    test::BackgroundProcess& other;
    unsigned long otherWindow;
    ProcessIdentity agent;
  };
  void startTerminals() {
    auto& host = server.start({"xterm", "-e", "sleep", "600"});
    auto& other = server.start({"xterm", "-class", "OtherTerm", "-e", "sleep", "600"});
    const auto hostWindow = server.waitForWindow("XTerm", host.pid());
    const auto otherWindow = server.waitForWindow("OtherTerm", other.pid());
    ASSERT_TRUE(hostWindow && otherWindow);
    const auto agent = childRunning(host.pid(), "sleep");
    ASSERT_TRUE(agent);
    terminals.emplace(Terminals{host, *hostWindow, other, *otherWindow, *agent});
  }

  test::XServer& server = test::sharedXServer();
  test::TempDir data;
  test::ScopedEnvironment environment{{{"XDG_DATA_HOME", data.path().string()}}};
  QtPasteboard pasteboard;
  std::optional<Terminals> terminals;
};

TEST_F(AgentDeliveryTest, StagingForAnXtermSessionCopiesTheTextAndBringsTheXtermForward) {
  ASSERT_NO_FATAL_FAILURE(startTerminals());
  auto& [host, hostWindow, other, otherWindow, agent] = *terminals;
  activate(otherWindow);

  X11Workspace workspace{{}, ProcessSource::system()};
  ClaudeCodeIntegration integration(pasteboard, workspace, ProcessSource::system());
  SessionRepository(dataRoot())
      .write(
          AgentSession{"0c1d2e3f-it", (data / "webapp").string(), agent, "XTerm", host.pid(), Date::now()});
  const auto destinations = test::awaitTask(integration.destinations());
  ASSERT_EQ(destinations.size(), 1u);
  EXPECT_EQ(destinations[0].title, "Claude Code · webapp");

  const std::filesystem::path file = data / "Captures/shot 1.png";
  const DeliveryReceipt receipt =
      test::awaitTask(integration.stage(file, " what is wrong here?\n", destinations[0]));
  EXPECT_EQ(receipt.message,
            "Path and message copied. Select the webapp session in your terminal and paste. Nothing was "
            "submitted.");

  EXPECT_EQ(test::clipboard("UTF8_STRING").toStdString(), StagingText::make(file, "what is wrong here?"));
  const QByteArray targets = test::clipboard("TARGETS");
  EXPECT_FALSE(targets.contains("image/")) << targets.toStdString();
  EXPECT_TRUE(waitServingEvents([&] { return server.activeWindow() == hostWindow; }));
}

TEST_F(AgentDeliveryTest, AHostPidNowHeldByAnotherApplicationIsNotActivated) {
  ASSERT_NO_FATAL_FAILURE(startTerminals());
  auto& [host, hostWindow, other, otherWindow, agent] = *terminals;
  activate(hostWindow);

  X11Workspace workspace{{}, ProcessSource::system()};
  // Names come from the desktop entries, read on a worker at start; until
  // then an application goes by its window class.
  std::optional<DesktopApplication> otherApplication;
  EXPECT_TRUE(test::waitUntil([&] {
    otherApplication = workspace.application(other.pid());
    return otherApplication && otherApplication->localizedName == "Other Terminal";
  }));
  ASSERT_TRUE(otherApplication);
  EXPECT_EQ(otherApplication->bundleIdentifier, "OtherTerm");
  EXPECT_EQ(workspace.frontmostApplication()->pid, host.pid());
  EXPECT_EQ(workspace.frontmostApplication()->localizedName, "XTerm");

  // The session says XTerm, but its recorded host pid is the OtherTerm window's.
  ClaudeCodeIntegration integration(pasteboard, workspace, ProcessSource::system());
  const AgentSession session{"s", "/work/webapp", agent, "XTerm", other.pid(), Date::now()};
  const DeliveryReceipt receipt =
      test::awaitTask(integration.stage("/tmp/a.png", "", ClaudeCodeIntegration::destination(session)));
  EXPECT_EQ(receipt.message,
            "Path and message copied. Open the webapp session and paste. Nothing was submitted.");
  test::processEventsFor(std::chrono::milliseconds(300));
  EXPECT_EQ(server.activeWindow(), hostWindow);

  EXPECT_FALSE(workspace.isTerminated(*otherApplication));
  other.stop();
  EXPECT_TRUE(workspace.isTerminated(*otherApplication));
}

TEST_F(AgentDeliveryTest, ActivationBringsBackTheApplicationsMostRecentlyActiveWindow) {
  QWidget first;
  QWidget second;
  for (QWidget* window : {&first, &second}) {
    window->resize(200, 120);
    window->show();
  }
  const auto firstWindow = static_cast<unsigned long>(first.winId());
  const auto secondWindow = static_cast<unsigned long>(second.winId());
  X11Workspace workspace{{}, ProcessSource::system()};
  std::vector<DesktopApplication> activations;
  workspace.observeActivations(
      [&](const DesktopApplication& application) { activations.push_back(application); });
  activate(secondWindow);
  activate(firstWindow);
  auto& terminal = server.start({"xterm"});
  const auto terminalWindow = server.waitForWindow("XTerm", terminal.pid());
  ASSERT_TRUE(terminalWindow);
  activate(*terminalWindow);
  ASSERT_TRUE(
      waitServingEvents([&] { return !activations.empty() && activations.back().pid == terminal.pid(); }));
  EXPECT_EQ(activations.back().bundleIdentifier, "XTerm");
  // The second window is now the topmost of ours, but the first was active last.
  server.xdotool({"windowraise", std::to_string(secondWindow)});

  const auto ours = workspace.application(static_cast<int32_t>(QCoreApplication::applicationPid()));
  ASSERT_TRUE(ours);
  EXPECT_TRUE(workspace.activate(*ours).result());
  EXPECT_TRUE(waitServingEvents([&] { return server.activeWindow() == firstWindow; }));
}

TEST_F(AgentDeliveryTest, ACopiedImageIsPastedAsTheSamePng) {
  QImage image(37, 23, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x * 7, y * 11, (x * y) % 256));
  }
  pasteboard.setText("an earlier text");
  Clipboard::copyImage(pasteboard, image);

  const QByteArray png = test::clipboard("image/png");
  ASSERT_TRUE(png.startsWith("\x89PNG"));
  const QImage pasted = QImage::fromData(png, "PNG");
  EXPECT_EQ(pasted.convertToFormat(QImage::Format_RGB32), image);
  EXPECT_FALSE(test::clipboard("TARGETS").contains("UTF8_STRING"));
}

}  // namespace
}  // namespace lumacap
