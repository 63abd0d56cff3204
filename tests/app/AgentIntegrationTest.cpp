#include "app/AgentIntegration.h"

#include <gtest/gtest.h>

#include <QImage>

#include "app/TaskOutcome.h"
#include "core/ScreenshotStore.h"
#include "core/StagingText.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeProcessSource.h"
#include "platform/fake/FakeWorkspace.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using test::runTask;

ProcessIdentity identity(int32_t pid, std::string started = "Sat Dec  5 09:41:07 2026") {
  return ProcessIdentity{pid, "claude", std::move(started)};
}

AgentSession session(std::string id, std::string cwd, int32_t pid, double updatedAt,
                     std::optional<std::string> hostBundleID = std::nullopt,
                     std::optional<int32_t> hostPID = std::nullopt) {
  return AgentSession{std::move(id),           std::move(cwd), identity(pid),
                      std::move(hostBundleID), hostPID,        Date{updatedAt}};
}

class ClaudeCodeIntegrationTest : public ::testing::Test {
 protected:
  AgentDestination liveDestination(const AgentSession& recorded) {
    processes.add(recorded.process);
    return ClaudeCodeIntegration::destination(recorded);
  }

  test::TempDir root;
  FakePasteboard pasteboard;
  FakeWorkspace workspace;
  FakeProcessSource processes;
  ClaudeCodeIntegration integration{pasteboard, workspace, processes, root.path()};
  const std::filesystem::path file = "/home/me/.local/share/Lumacap/Captures/shot 1.png";
};

TEST_F(ClaudeCodeIntegrationTest, ListsLiveSessionsNewestFirstAsDestinations) {
  EXPECT_EQ(runTask(integration.destinations()).value, std::vector<AgentDestination>{});

  const SessionRepository repository(root.path());
  const AgentSession older = session("6a1f0c52-0e1b-4a7d", "/work/webapp", 100, 10.0);
  const AgentSession newer = session("abcd", "/srv/api", 101, 20.0, "XTerm", 7);
  const AgentSession ended = session("ended-session", "/work/old", 102, 30.0);
  for (const AgentSession& each : {older, newer, ended}) repository.write(each);
  processes.add(older.process);
  processes.add(newer.process);
  processes.add(ProcessIdentity{102, "claude", "Sun Dec  6 08:00:00 2026"});  // pid reused since

  const auto listed = runTask(integration.destinations()).value.value();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0], (AgentDestination{"abcd", "Claude Code · api", "Active · /srv/api · abcd", newer}));
  EXPECT_EQ(listed[1], (AgentDestination{"6a1f0c52-0e1b-4a7d", "Claude Code · webapp",
                                         "Active · /work/webapp · 6a1f0c", older}));
}

TEST_F(ClaudeCodeIntegrationTest, ShortSessionIdCountsCharactersNotBytes) {
  const auto destination = ClaudeCodeIntegration::destination(session("éàü-ö-ç-x", "/a/b", 5, 0));
  EXPECT_EQ(destination.detail, "Active · /a/b · éàü-ö-");
}

TEST_F(ClaudeCodeIntegrationTest, StagesTheTextAloneAndActivatesTheRecordedHost) {
  workspace.add(DesktopApplication{611, "XTerm", "XTerm", "t0"});
  const auto destination = liveDestination(session("s1", "/work/webapp", 300, 1, "XTerm", 611));
  pasteboard.setImage(QImage(4, 4, QImage::Format_RGB32));

  const auto receipt = runTask(integration.stage(file, "  fix the header\n", destination)).value.value();
  EXPECT_EQ(receipt, (DeliveryReceipt{"Staged",
                                      "Path and message copied. Select the webapp session in your terminal "
                                      "and paste. Nothing was submitted."}));
  EXPECT_EQ(pasteboard.text(), StagingText::make(file, "fix the header"));
  EXPECT_FALSE(pasteboard.image());
  EXPECT_EQ(workspace.activations(), std::vector<int32_t>{611});

  // An empty message still stages, with the single sentence.
  ASSERT_TRUE(runTask(integration.stage(file, "", destination)).value);
  EXPECT_EQ(pasteboard.text(), "Please inspect the local screenshot at \"" + file.string() + "\".");
}

TEST_F(ClaudeCodeIntegrationTest, ActivatesNothingUnlessTheHostIsSafelyIdentified) {
  const std::string notActivated =
      "Path and message copied. Open the webapp session and paste. Nothing was submitted.";
  workspace.add(DesktopApplication{611, "firefox", "Firefox", "t0"});  // the pid now belongs to another app
  workspace.add(DesktopApplication{612, std::nullopt, std::nullopt, "t0"});
  const struct {
    std::optional<std::string> bundle;
    std::optional<int32_t> pid;
  } hosts[] = {
      {"XTerm", 611},           // another application holds the pid
      {"XTerm", std::nullopt},  // bundle without pid
      {std::nullopt, 611},      // pid without bundle
      {"XTerm", 999},           // no application with that pid
      {"XTerm", 612},           // an application without a bundle identifier
      {"Firefox", 611},         // same letters, other case
  };
  for (const auto& host : hosts) {
    const auto destination = liveDestination(session("s1", "/work/webapp", 300, 1, host.bundle, host.pid));
    const auto outcome = runTask(integration.stage(file, "", destination));
    ASSERT_TRUE(outcome.value);
    EXPECT_EQ(outcome.value->message, notActivated);
    EXPECT_EQ(outcome.value->status, "Staged");
  }
  EXPECT_TRUE(workspace.activations().empty());

  // The right application, whose activation request could not be sent.
  workspace.add(DesktopApplication{613, "XTerm", "XTerm", "t0"});
  workspace.setActivationSent(false);
  const auto destination = liveDestination(session("s2", "/work/webapp", 301, 1, "XTerm", 613));
  EXPECT_EQ(runTask(integration.stage(file, "", destination)).value->message, notActivated);
  EXPECT_EQ(workspace.activations(), std::vector<int32_t>{613});
}

TEST_F(ClaudeCodeIntegrationTest, RefusesASessionWhoseProcessIsNoLongerTheRecordedOne) {
  workspace.add(DesktopApplication{611, "XTerm", "XTerm", "t0"});
  const AgentSession recorded = session("s1", "/work/webapp", 300, 1, "XTerm", 611);
  const auto destination = ClaudeCodeIntegration::destination(recorded);
  const QImage image(4, 4, QImage::Format_RGB32);
  pasteboard.setImage(image);

  const ProcessIdentity others[] = {
      {300, "claude", "Sun Dec  6 08:00:00 2026"},  // restarted under the same pid
      {300, "bash", recorded.process.started},      // the pid now runs another command
  };
  for (const ProcessIdentity& other : others) {
    processes.add(other);
    const auto outcome = runTask(integration.stage(file, "message", destination));
    EXPECT_TRUE(outcome.failedWith<IntegrationError>());
  }
  processes.remove(300);
  EXPECT_TRUE(runTask(integration.stage(file, "message", destination)).failedWith<IntegrationError>());

  EXPECT_EQ(pasteboard.writes(), 1);
  EXPECT_EQ(pasteboard.image(), image);
  EXPECT_TRUE(workspace.activations().empty());
}

TEST_F(ClaudeCodeIntegrationTest, RefusesADestinationWithoutSession) {
  EXPECT_TRUE(runTask(integration.stage(file, "", AgentDestination::clipboard())).failedWith<StoreError>());
  EXPECT_EQ(pasteboard.writes(), 0);
}

}  // namespace
}  // namespace lumacap
