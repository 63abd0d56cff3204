#include <gtest/gtest.h>

#include <QPushButton>
#include <QWindow>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/AppModel.h"
#include "app/AppServices.h"
#include "app/views/PreferencesView.h"
#include "support/AwaitTask.h"
#include "support/IntegrationMain.h"
#include "support/TemporaryHome.h"

namespace lumacap {
namespace {

using test::processEventsUntil;

// Clicks the middle of a widget with the real pointer.
void clickWithPointer(const QWidget& widget) {
  const QPoint at = widget.mapToGlobal(widget.rect().center());
  const auto result = test::sharedXServer().run(
      {"xdotool", "mousemove", std::to_string(at.x()), std::to_string(at.y()), "click", "1"});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
}

TEST(PreferencesViewIntegration, InstallButtonAddsTheHooksToClaudeCodesSettings) {
  test::TemporaryHome home;
  AppServices services;
  AppModel& model = services.model();
  model.showSettings();
  auto& view = static_cast<PreferencesView&>(*model.preferencesWindow());
  ASSERT_TRUE(processEventsUntil([&] { return view.windowHandle() && view.windowHandle()->isExposed(); }))
      << "the settings window never appeared";
  // Let the window manager finish placing it.
  processEventsUntil([] { return false; }, std::chrono::milliseconds(300));

  ASSERT_NO_FATAL_FAILURE(clickWithPointer(*view.installButton()));
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

}  // namespace
}  // namespace lumacap
