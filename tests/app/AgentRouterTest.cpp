#include "app/AgentRouter.h"

#include <gtest/gtest.h>

#include <QImage>

#include "app/TaskOutcome.h"
#include "core/StagingText.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeProcessSource.h"
#include "platform/fake/FakeWorkspace.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using test::runTask;

class AgentRouterTest : public ::testing::Test {
 protected:
  QImage capturedImage() {
    QImage image(8, 6, QImage::Format_ARGB32);
    image.fill(Qt::darkCyan);
    return image;
  }

  test::TempDir root;
  FakePasteboard pasteboard;
  FakeWorkspace workspace;
  FakeProcessSource processes;
  ClaudeCodeIntegration integration{pasteboard, workspace, processes, root.path()};
  AgentRouter router{pasteboard, integration};
  const std::filesystem::path file = "/data/Lumacap/Captures/it's.png";
  const AgentSession session{"S", "/work/webapp", ProcessIdentity{300, "claude", "t"}, "XTerm", 611, Date{}};
};

TEST_F(AgentRouterTest, CopiesTheTextAloneForTheClipboard) {
  Clipboard::copyImage(pasteboard, capturedImage());
  const auto receipt = runTask(router.stage(file, "", AgentDestination::clipboard())).value.value();
  EXPECT_EQ(receipt, (DeliveryReceipt{"Copied",
                                      "Path and message copied. Paste into your agent to attach the saved "
                                      "image. Nothing was submitted."}));
  EXPECT_EQ(pasteboard.text(), StagingText::make(file, ""));
  EXPECT_FALSE(pasteboard.image());
}

TEST_F(AgentRouterTest, RoutesOnTheSessionNotOnTheIdOrTitle) {
  processes.add(session.process);
  // Looks like the clipboard but carries a session: delivered to the session.
  const AgentDestination disguised{"clipboard", "Clipboard", "", session};
  EXPECT_EQ(runTask(router.stage(file, "look", disguised)).value->status, "Staged");
  // Looks like a session but carries none: the clipboard.
  const AgentDestination bare{"S", "Claude Code · webapp", "", std::nullopt};
  EXPECT_EQ(runTask(router.stage(file, "look", bare)).value->status, "Copied");
  EXPECT_EQ(pasteboard.text(), StagingText::make(file, "look"));
}

TEST_F(AgentRouterTest, AnEndedSessionLeavesTheCapturedImageOnTheClipboard) {
  const QImage image = capturedImage();
  Clipboard::copyImage(pasteboard, image);
  const auto outcome = runTask(router.stage(file, "look", ClaudeCodeIntegration::destination(session)));
  EXPECT_TRUE(outcome.failedWith<IntegrationError>());
  EXPECT_EQ(pasteboard.image(), image);
  EXPECT_FALSE(pasteboard.text());
}

TEST(ClipboardTest, CopyingAnImageReplacesAnEarlierText) {
  FakePasteboard pasteboard;
  pasteboard.setText("earlier");
  QImage image(2, 2, QImage::Format_RGB32);
  image.fill(Qt::red);
  Clipboard::copyImage(pasteboard, image);
  EXPECT_EQ(pasteboard.image(), image);
  EXPECT_FALSE(pasteboard.text());
}

TEST(PasteHintTest, NamesTheApplicationAndTheKeyThatPastesThere) {
  const std::pair<std::optional<DesktopApplication>, const char*> cases[] = {
      {std::nullopt, "Ready in your app · Ctrl+V to paste"},
      {DesktopApplication{5, "XTerm", "XTerm", "t"}, "Ready in XTerm · Claude image paste: Ctrl+V"},
      {DesktopApplication{5, "kitty", std::nullopt, "t"}, "Ready in your app · Claude image paste: Ctrl+V"},
      {DesktopApplication{5, std::nullopt, "", "t"}, "Ready in your app · Ctrl+V to paste"},
      // Window classes match exactly: the instance part is not the class.
      {DesktopApplication{5, "xterm", "XTerm", "t"}, "Ready in XTerm · Ctrl+V to paste"},
      {DesktopApplication{5, "firefox", "Firefox", "t"}, "Ready in Firefox · Ctrl+V to paste"},
  };
  for (const auto& [application, hint] : cases) EXPECT_EQ(PasteHint::make(application), hint);
  EXPECT_EQ(PasteHint::afterTextCopied(DesktopApplication{5, "Gnome-terminal", "Terminal", "t"}),
            "Path + message copied · Ctrl+Shift+V to paste");
  EXPECT_EQ(PasteHint::afterTextCopied(DesktopApplication{5, "firefox", "Firefox", "t"}),
            "Path + message copied · Ctrl+V to paste");
  EXPECT_EQ(PasteHint::afterTextCopied(std::nullopt), "Path + message copied · Ctrl+V to paste");
}

}  // namespace
}  // namespace lumacap
