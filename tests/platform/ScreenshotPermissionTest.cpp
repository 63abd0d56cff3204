// GNOME's one-time screenshot question as the portal screen source handles
// it, with a scripted permission store, portal and window.
#include <gtest/gtest.h>

#include <QWidget>
#include <QWindow>
#include <optional>

#include "core/CaptureError.h"
#include "platform/wayland/PortalScreenshotSource.h"
#include "support/AwaitTask.h"

namespace lumacap {
namespace {

class RecordingWindow final : public PermissionWindow {
 public:
  QWindow* show() override {
    ++shown;
    widget.show();
    return widget.windowHandle();
  }
  void close() override { widget.hide(); }
  QWidget widget;
  int shown = 0;
};

class ScreenshotQuestionTest : public ::testing::Test {
 protected:
  PortalScreenshotSource source() {
    return PortalScreenshotSource(
        window, {[] { return std::string("org.lumacap.Lumacap"); }, [this] { return stored; },
                 [this](const QString& parent) {
                   asked.push_back(parent);
                   shownWhileAsked = window.widget.isVisible();
                   return allows;
                 }});
  }
  // The answer once it came; the refusal's text when it failed (a failure of
  // another type fails the test).
  static std::pair<std::optional<bool>, std::string> answerOf(QFuture<bool> future) {
    test::processEventsUntil([&] { return future.isFinished(); });
    try {
      return {future.result(), {}};
    } catch (const CaptureError& error) {
      EXPECT_EQ(error.kind(), CaptureError::Kind::gnomeScreenshotsRefused);
      return {std::nullopt, error.what()};
    }
  }

  RecordingWindow window;
  std::optional<ScreenshotPermission> stored = ScreenshotPermission::unset;
  bool allows = true;
  std::vector<QString> asked;
  bool shownWhileAsked = false;
};

TEST_F(ScreenshotQuestionTest, AStoredAnswerDecidesWithoutAWindowOrAQuestion) {
  EXPECT_FALSE(source().canRecordScreen());  // the store is read off the GUI thread, on request
  stored = ScreenshotPermission::granted;
  EXPECT_EQ(answerOf(source().requestScreenRecording()).first, true);
  stored = std::nullopt;  // the store cannot be read: the portal decides, as it always did
  EXPECT_EQ(answerOf(source().requestScreenRecording()).first, true);
  stored = ScreenshotPermission::refused;
  const auto [granted, error] = answerOf(source().requestScreenRecording());
  EXPECT_FALSE(granted);
  EXPECT_EQ(error, CaptureError::refusedOnGnome("org.lumacap.Lumacap").what());
  EXPECT_EQ(window.shown, 0);
  EXPECT_TRUE(asked.empty());
}

TEST_F(ScreenshotQuestionTest, WithNothingStoredTheQuestionIsAskedInFrontOfLumacapsWindow) {
  auto unset = source();
  const auto [granted, error] = answerOf(unset.requestScreenRecording());
  EXPECT_EQ(granted, true) << error;
  EXPECT_EQ(window.shown, 1);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_TRUE(shownWhileAsked);
  EXPECT_FALSE(window.widget.isVisible());  // closed once answered
  // (Off Wayland there is no surface to attach the dialog to.)
  EXPECT_EQ(asked.front(), QString());
}

TEST_F(ScreenshotQuestionTest, ARefusalInTheDialogClosesTheWindowAndSaysHowToAllowIt) {
  allows = false;
  auto unset = source();
  const auto [granted, error] = answerOf(unset.requestScreenRecording());
  EXPECT_FALSE(granted);
  EXPECT_EQ(error, CaptureError::refusedOnGnome("org.lumacap.Lumacap").what());
  EXPECT_FALSE(window.widget.isVisible());
}

TEST(PortalScreenshotSource, ElsewhereThePortalIsLeftToAskAsBefore) {
  PortalScreenshotSource source;
  EXPECT_TRUE(source.canRecordScreen());
  EXPECT_TRUE(source.requestScreenRecording().result());
}

}  // namespace
}  // namespace lumacap
