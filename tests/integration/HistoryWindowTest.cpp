#include <gtest/gtest.h>
#include <memory>

#include <QBuffer>
#include <QImage>
#include <filesystem>
#include <thread>

#include "core/ScreenshotStore.h"
#include "support/IntegrationMain.h"
#include "support/RenderedText.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::sharedXServer;
using test::waitUntil;

std::string png(const QString& line) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  test::renderedText({"$ " + line}, test::darkTerminal()).save(&buffer, "PNG");
  return bytes.toStdString();
}

std::vector<std::string> filenames(const fs::path& root) {
  const ScreenshotStore store(root);
  std::vector<std::string> names;
  for (const CaptureRecord& record : store.records()) names.push_back(record.filename);
  return names;
}

std::vector<std::string> folder(const fs::path& captures) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(captures)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class HistoryWindowTest : public ::testing::Test {
 protected:
  // Our window of this exact title, once it is shown.
  std::optional<std::string> window(const std::string& title) {
    std::string pattern = "^";
    for (char c : title)
      pattern += std::string(std::isalnum(static_cast<unsigned char>(c)) || c == ' ' ? "" : "\\") + c;
    const auto found = server.run({"xdotool", "search", "--onlyvisible", "--name", pattern + "$"});
    if (found.exitStatus != 0 || found.standardOutput.empty()) return std::nullopt;
    return found.standardOutput.substr(0, found.standardOutput.find('\n'));
  }

  // Waits until the window of this title is shown and has the keyboard.
  bool waitForWindow(const std::string& title) {
    return waitUntil(
        [&] {
          const auto shown = window(title);
          const auto active = server.activeWindow();
          return shown && active && std::to_string(*active) == *shown;
        },
        10s);
  }

  void keys(const std::vector<std::string>& names) {
    std::vector<std::string> arguments = {"xdotool", "key", "--delay", "60"};
    arguments.insert(arguments.end(), names.begin(), names.end());
    server.run(arguments);
  }

  // The history as it is on disk, once it is `expected`.
  bool historyBecomes(const std::vector<std::string>& expected) {
    return waitUntil([&] { return filenames(root) == expected; }, 10s);
  }

  test::XServer& server = sharedXServer();
  test::TempDir home;
  fs::path root = home / "data" / "Lumacap";
  fs::path captures = root / "Captures";
};

// Recent Captures from the tray menu, then a rename, a deletion and Delete
// All, all with the keyboard, against the real store on disk.
TEST_F(HistoryWindowTest, RenamesDeletesAndDeletesAllFromTheTray) {
  {
    ScreenshotStore store(root);
    for (const char* name : {"alpha", "beta", "gamma"}) store.save(png(name), name, "XTerm", Date::now());
  }
  auto& application =
      server.start({test::lumacapBinary()}, {{"HOME", home.path().string()},
                                             {"XDG_DATA_HOME", (home / "data").string()},
                                             {"XDG_CONFIG_HOME", (home / "config").string()}});
  // Stopped however the test ends: a Lumacap left running would keep the
  // hot key from the tests that follow in this process.
  const std::unique_ptr<test::BackgroundProcess, void (*)(test::BackgroundProcess*)> stopped(
      &application, [](test::BackgroundProcess* process) { process->stop(); });
  const auto icon = server.waitForWindow("lumacap", application.pid());
  ASSERT_TRUE(icon) << "no tray icon appeared";

  // The menu: a title, three captures, "Last Capture…", "Recent Captures…".
  ASSERT_TRUE(waitUntil(
      [&] {
        server.run({"xdotool", "mousemove", "--window", std::to_string(*icon), "5", "5", "click", "1"});
        std::this_thread::sleep_for(300ms);
        keys({"Down", "Down", "Down", "Down", "Down", "Return"});
        return waitUntil([&] { return window("Recent Captures").has_value(); }, 2s);
      },
      20s))
      << "Recent Captures did not open from the tray menu";
  ASSERT_TRUE(waitForWindow("Recent Captures"));

  // The newest, gamma, is selected: its menu, "Rename…".
  keys({"Menu", "Down", "Down", "Down", "Down", "Return"});
  ASSERT_TRUE(waitForWindow("Rename capture"));
  keys({"ctrl+a"});
  server.run({"xdotool", "type", "--delay", "30", "My Shot"});
  keys({"Return"});
  ASSERT_TRUE(historyBecomes({"my-shot.png", "beta.png", "alpha.png"}));
  EXPECT_EQ(folder(captures), (std::vector<std::string>{"alpha.png", "beta.png", "my-shot.png"}));
  ASSERT_TRUE(waitForWindow("Recent Captures"));

  // beta, one row down: its menu's last item, "Delete…", then confirm.
  keys({"Down", "Menu", "Up", "Return"});
  ASSERT_TRUE(waitForWindow("Delete this capture?"));
  keys({"Return"});
  ASSERT_TRUE(historyBecomes({"my-shot.png", "alpha.png"}));
  EXPECT_EQ(folder(captures), (std::vector<std::string>{"alpha.png", "my-shot.png"}));
  ASSERT_TRUE(waitForWindow("Recent Captures"));

  // From the list: "Show Folder", then "Delete All…".
  keys({"Tab", "Tab", "space"});
  ASSERT_TRUE(waitForWindow("Delete all saved captures?"));
  keys({"Return"});
  ASSERT_TRUE(historyBecomes({}));
  EXPECT_TRUE(folder(captures).empty());
  EXPECT_TRUE(application.running());
}

}  // namespace
}  // namespace lumacap
