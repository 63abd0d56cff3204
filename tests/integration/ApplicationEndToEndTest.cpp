#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "core/StagingText.h"
#include "platform/linux/TesseractRecognizer.h"
#include "support/IntegrationMain.h"
#include "support/SessionBus.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using namespace std::chrono_literals;
using test::sharedXServer;
using test::waitUntil;

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

std::string xdotool(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "xdotool");
  return sharedXServer().run(arguments).standardOutput;
}

std::vector<unsigned long> windowsNamed(const std::string& name) {
  std::vector<unsigned long> windows;
  std::istringstream lines(xdotool({"search", "--onlyvisible", "--name", "^" + name + "$"}));
  for (std::string line; std::getline(lines, line);) windows.push_back(std::stoul(line));
  return windows;
}

std::optional<unsigned long> waitForWindowNamed(const std::string& name) {
  std::optional<unsigned long> found;
  waitUntil([&] {
    const auto windows = windowsNamed(name);
    if (!windows.empty()) found = windows.front();
    return found.has_value();
  });
  return found;
}

Geometry geometryOf(unsigned long window) {
  Geometry geometry;
  std::istringstream lines(xdotool({"getwindowgeometry", "--shell", std::to_string(window)}));
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const int value = std::stoi(line.substr(equals + 1));
    if (key == "X") geometry.x = value;
    if (key == "Y") geometry.y = value;
    if (key == "WIDTH") geometry.width = value;
    if (key == "HEIGHT") geometry.height = value;
  }
  return geometry;
}

std::string clipboard(const std::string& type) {
  return sharedXServer().run({"xclip", "-selection", "clipboard", "-t", type, "-o"}).standardOutput;
}

// Width and height from a PNG's header.
std::pair<int, int> pngSize(const std::string& png) {
  if (png.size() < 24 || png.compare(1, 3, "PNG") != 0) return {0, 0};
  const auto number = [&](size_t at) {
    return (uint8_t(png[at]) << 24) | (uint8_t(png[at + 1]) << 16) | (uint8_t(png[at + 2]) << 8) |
           uint8_t(png[at + 3]);
  };
  return {number(16), number(20)};
}

// The visible windows of a process, largest first.
std::vector<Geometry> windowsOf(pid_t pid) {
  std::vector<Geometry> windows;
  std::istringstream lines(xdotool({"search", "--onlyvisible", "--pid", std::to_string(pid)}));
  for (std::string line; std::getline(lines, line);) windows.push_back(geometryOf(std::stoul(line)));
  std::sort(windows.begin(), windows.end(),
            [](const Geometry& a, const Geometry& b) { return a.width * a.height > b.width * b.height; });
  return windows;
}

// The lines of text Tesseract reads in a part of the screen, enlarged so
// that small menu fonts read well.
std::vector<std::string> textOnScreen(const Geometry& area) {
  const QImage pixels =
      QGuiApplication::primaryScreen()->grabWindow(0, area.x, area.y, area.width, area.height).toImage();
  const QImage enlarged = pixels.scaled(pixels.size() * 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  std::vector<std::string> lines;
  for (const RecognizedLine& line : TesseractRecognizer::shared()->recognize(enlarged))
    lines.push_back(line.text);
  return lines;
}

// The real application, with a terminal the user works in.
class ApplicationEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& server = sharedXServer();
    auto& terminal = server.start({"xterm", "-geometry", "80x24+40+60", "-T", "work"});
    terminalWindow = server.waitForWindow("XTerm", terminal.pid());
    ASSERT_TRUE(terminalWindow);
    application = &server.start({test::lumacapBinary()}, environment());
    trayIcon = server.waitForWindow("lumacap", application->pid());
    ASSERT_TRUE(trayIcon) << "no tray icon appeared";
    xdotool({"windowactivate", "--sync", std::to_string(*terminalWindow)});
    ASSERT_TRUE(waitUntil([&] { return server.activeWindow() == terminalWindow; }));
  }

  void TearDown() override {
    if (application) application->stop();
  }

  std::map<std::string, std::string> environment() const {
    return {{"HOME", home.path().string()},
            {"XDG_DATA_HOME", (home / "data").string()},
            {"XDG_CONFIG_HOME", (home / "config").string()},
            {"DBUS_SESSION_BUS_ADDRESS", bus.address()}};
  }

  // Starting Lumacap again: hands over to the running one and ends at once.
  test::ProcessResult startAgain(const std::vector<std::string>& arguments = {}) {
    std::vector<std::string> command = {test::lumacapBinary()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    auto withDisplay = environment();
    withDisplay.merge(sharedXServer().environment());
    return test::runProcess(command, {}, withDisplay);
  }

  // Shift+Super+2, then a drag of 300 × 200 pixels.
  void captureRegion() {
    xdotool({"key", "super+shift+2"});
    ASSERT_TRUE(waitUntil([&] {
      const auto windows = windowsOf(application->pid());
      return !windows.empty() && windows.front().width >= 1280;
    })) << "the region overlay did not open";
    xdotool({"mousemove", "100", "100", "mousedown", "1", "mousemove", "250", "200", "mousemove", "400",
             "300", "mouseup", "1"});
  }

  nlohmann::json history() {
    std::ifstream file(home / "data" / "Lumacap" / "history.json");
    if (!file) return nlohmann::json::array();
    return nlohmann::json::parse(file, nullptr, false);
  }

  test::TempDir home;
  test::SessionBus bus;
  test::BackgroundProcess* application = nullptr;
  std::optional<unsigned long> terminalWindow;
  std::optional<unsigned long> trayIcon;
};

TEST_F(ApplicationEndToEndTest, RegionCaptureIsOnTheClipboardAtOnceAndTheThumbnailNeverTakesFocus) {
  auto& server = sharedXServer();
  captureRegion();
  const auto card = waitForWindowNamed("Capture copied");
  ASSERT_TRUE(card) << "no thumbnail";
  std::string png;
  ASSERT_TRUE(waitUntil([&] {
    png = clipboard("image/png");
    return !png.empty();
  }));
  EXPECT_EQ(pngSize(png), std::make_pair(300, 200));

  const Geometry geometry = geometryOf(*card);
  EXPECT_EQ(geometry.width, 304);
  EXPECT_EQ(geometry.height, 104);
  EXPECT_EQ(geometry.x + geometry.width, 1280 - 20);
  EXPECT_EQ(geometry.y + geometry.height, 800 - 20);
  EXPECT_EQ(server.activeWindow(), terminalWindow);

  // Its Save button saves without taking the focus from the terminal.
  xdotool({"mousemove", std::to_string(geometry.x + 175), std::to_string(geometry.y + 77), "click", "1"});
  ASSERT_TRUE(waitUntil([&] { return history().size() == 1; })) << "Save on the thumbnail saved nothing";
  EXPECT_EQ(server.activeWindow(), terminalWindow);

  // The thumbnail goes by itself seven seconds after the pointer left it.
  xdotool({"mousemove", "600", "400"});
  std::this_thread::sleep_for(5s);
  EXPECT_FALSE(windowsNamed("Capture copied").empty());
  EXPECT_TRUE(waitUntil([] { return windowsNamed("Capture copied").empty(); }, 5s));
}

TEST_F(ApplicationEndToEndTest, PreviewStagesTheMessageToTheClipboardAndReturnsFocus) {
  auto& server = sharedXServer();
  captureRegion();
  const auto card = waitForWindowNamed("Capture copied");
  ASSERT_TRUE(card);
  const Geometry geometry = geometryOf(*card);
  xdotool({"mousemove", std::to_string(geometry.x + 122), std::to_string(geometry.y + 77), "click",
           "1"});  // Edit
  const auto preview = waitForWindowNamed("Lumacap");
  ASSERT_TRUE(preview) << "Edit did not open the preview";
  ASSERT_TRUE(waitUntil([&] { return server.activeWindow() == preview; }));

  xdotool({"type", "--delay", "20", "Why is this red?"});
  xdotool({"key", "Return"});
  ASSERT_TRUE(waitUntil([&] { return history().size() == 1 && history().at(0).contains("destination"); }))
      << "nothing was staged";
  const nlohmann::json record = history().at(0);
  EXPECT_EQ(record.value("destination", ""), "Clipboard");
  const std::string file =
      (home / "data" / "Lumacap" / "Captures" / record.at("filename").get<std::string>()).string();
  const std::string staged = StagingText::make(file, "Why is this red?");
  EXPECT_TRUE(waitUntil([&] { return clipboard("UTF8_STRING") == staged; })) << clipboard("UTF8_STRING");
  EXPECT_TRUE(waitUntil([&] { return server.activeWindow() == terminalWindow; }));
  EXPECT_TRUE(windowsNamed("Lumacap").empty());
}

TEST_F(ApplicationEndToEndTest, TrayMenuListsTheCommandsInOrderAndQuits) {
  xdotool({"mousemove", "--window", std::to_string(*trayIcon), "5", "5", "click", "1"});  // a left click
  std::optional<Geometry> menu;
  ASSERT_TRUE(waitUntil([&] {
    const auto windows = windowsOf(application->pid());
    if (!windows.empty() && windows.front().height > 150) menu = windows.front();
    return menu.has_value();
  })) << "the tray menu did not open";
  std::this_thread::sleep_for(300ms);  // drawn

  std::string text;
  for (const std::string& line : textOnScreen(*menu)) text += line + "\n";
  size_t at = 0;
  // (The disabled heading "Lumacap" is too faint for the recognizer.)
  for (const char* item : {"Capture Region", "Shift+Super+2", "Capture Window", "Capture Display",
                           "Last Capture", "Recent Captures", "Settings", "Quit Lumacap"}) {
    const size_t found = text.find(item, at);
    EXPECT_NE(found, std::string::npos) << item << " missing from the menu or out of order:\n" << text;
    if (found != std::string::npos) at = found;
  }

  xdotool({"key", "Up", "Return"});  // the last item
  EXPECT_TRUE(waitUntil([&] { return !application->running(); }));
}

TEST_F(ApplicationEndToEndTest, StartingAgainReachesTheRunningInstance) {
  const test::ProcessResult again = startAgain();
  EXPECT_EQ(again.exitStatus, 0);
  EXPECT_TRUE(waitForWindowNamed("Recent Captures")) << "the running instance did not open Recent Captures";
  EXPECT_TRUE(application->running());

  // A desktop action of the launcher, for desktops that start it by command.
  EXPECT_EQ(startAgain({"--action=capture-display"}).exitStatus, 0);
  EXPECT_TRUE(waitForWindowNamed("Capture copied")) << "the display capture did not happen";
  EXPECT_EQ(pngSize(clipboard("image/png")), std::make_pair(1280, 800));
}

// A desktop without a system tray (GNOME without its AppIndicator extension):
// Lumacap says once what still reaches it.
TEST(ApplicationWithoutTray, SaysWhatStillWorks) {
  auto& server = sharedXServer();
  server.stopSystemTray();
  test::TempDir home;
  auto& application =
      server.start({test::lumacapBinary()}, {{"HOME", home.path().string()},
                                             {"XDG_DATA_HOME", (home / "data").string()},
                                             {"XDG_CONFIG_HOME", (home / "config").string()}});
  const auto notice = waitForWindowNamed("Lumacap");
  application.stop();
  server.startSystemTray();
  EXPECT_TRUE(notice) << "no notice on a desktop without a tray";
}

TEST(ApplicationWithoutDisplay, FailsInOneLine) {
  const auto result = test::runProcess({test::lumacapBinary()}, {}, {{"DISPLAY", ""}});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardOutput, "");
  EXPECT_EQ(result.standardError, "Lumacap: no X11 display to run on ($DISPLAY is not set).\n");
}

}  // namespace
}  // namespace lumacap
