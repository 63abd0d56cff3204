#include "app/AgentSessionRegistry.h"
#include "support/AwaitTask.h"

#include <gtest/gtest.h>

#include "app/TaskOutcome.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeProcessSource.h"
#include "platform/fake/FakeWorkspace.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

AgentDestination hosted(std::string id, std::optional<std::string> hostBundleID) {
  AgentSession session{id, "/work/" + id, ProcessIdentity{2, "claude", "t"}, std::move(hostBundleID),
                       1,  Date{}};
  return ClaudeCodeIntegration::destination(session);
}

std::vector<std::string> idsOf(const std::vector<AgentDestination>& destinations) {
  std::vector<std::string> ids;
  for (const AgentDestination& destination : destinations) ids.push_back(destination.id);
  return ids;
}

class AgentSessionRegistryTest : public ::testing::Test {
 protected:
  AgentSessionRegistryTest() {
    registry = std::make_unique<AgentSessionRegistry>(
        std::make_unique<ClaudeCodeIntegration>(pasteboard, workspace, processes, root.path()));
  }

  void addLiveSession(const std::string& id, double updatedAt, std::optional<std::string> hostBundleID) {
    const int32_t pid = nextPid++;
    const AgentSession session{
        id,         "/work/" + id,  ProcessIdentity{pid, "claude", "t"}, std::move(hostBundleID),
        pid + 1000, Date{updatedAt}};
    SessionRepository(root.path()).write(session);
    processes.add(session.process);
  }

  void refresh(std::optional<std::string> preferredBundle) {
    test::awaitTask(registry->refresh(std::move(preferredBundle)));
  }

  test::TempDir root;
  FakePasteboard pasteboard;
  FakeWorkspace workspace;
  FakeProcessSource processes;
  std::unique_ptr<AgentSessionRegistry> registry;
  int32_t nextPid = 100;
};

TEST_F(AgentSessionRegistryTest, PutsSessionsOfThePreferredApplicationFirstKeepingTheirOrder) {
  addLiveSession("A", 30, "com.other.Terminal");
  addLiveSession("B", 20, "XTerm");
  addLiveSession("C", 10, "XTerm");
  addLiveSession("D", 5, std::nullopt);

  refresh("XTerm");
  EXPECT_EQ(idsOf(registry->destinations()), (std::vector<std::string>{"clipboard", "B", "C", "A", "D"}));

  refresh(std::nullopt);
  EXPECT_EQ(idsOf(registry->destinations()), (std::vector<std::string>{"clipboard", "A", "B", "C", "D"}));
}

TEST(AgentSessionRegistryOrderTest, MovesOnlyExactMatchesForward) {
  const std::vector<AgentDestination> sessions = {hosted("1", "xterm"), hosted("2", std::nullopt),
                                                  hosted("3", "XTerm"), hosted("4", "XTerm ")};
  EXPECT_EQ(idsOf(AgentSessionRegistry::ordered(sessions, "XTerm")),
            (std::vector<std::string>{"3", "1", "2", "4"}));
  EXPECT_EQ(AgentSessionRegistry::ordered(sessions, std::nullopt), sessions);
}

TEST_F(AgentSessionRegistryTest, ASecondRefreshWhileOneRunsChangesNothing) {
  addLiveSession("A", 30, "XTerm");
  addLiveSession("B", 20, std::nullopt);
  int destinationsChanged = 0;
  int refreshingChanged = 0;
  QObject::connect(registry.get(), &AgentSessionRegistry::destinationsChanged,
                   [&] { ++destinationsChanged; });
  QObject::connect(registry.get(), &AgentSessionRegistry::refreshingChanged, [&] { ++refreshingChanged; });

  processes.holdProbes();  // keeps the first listing running
  auto first = registry->refresh(std::nullopt);
  EXPECT_TRUE(registry->refreshing());
  auto second = registry->refresh("XTerm");
  EXPECT_TRUE(second.isReady());  // returned at once
  EXPECT_TRUE(registry->refreshing());
  processes.releaseProbes();
  test::awaitTask(first);

  EXPECT_FALSE(registry->refreshing());
  EXPECT_EQ(refreshingChanged, 2);
  EXPECT_EQ(destinationsChanged, 1);
  EXPECT_EQ(processes.inspections(), 2);  // one listing, one probe per file
  EXPECT_EQ(idsOf(registry->destinations()), (std::vector<std::string>{"clipboard", "A", "B"}));

  // Once idle, the next refresh runs again and sees the ended session go.
  processes.remove(100);
  refresh(std::nullopt);
  EXPECT_EQ(idsOf(registry->destinations()), (std::vector<std::string>{"clipboard", "B"}));
  EXPECT_EQ(destinationsChanged, 2);
}

class ThrowingIntegration final : public AgentIntegrationProtocol {
 public:
  QCoro::Task<std::vector<AgentDestination>> destinations() override {
    throw std::runtime_error("unreadable");
    co_return {};
  }
  QCoro::Task<DeliveryReceipt> stage(std::filesystem::path, std::string, AgentDestination) override {
    co_return DeliveryReceipt{};
  }
};

TEST(AgentSessionRegistryFailureTest, AFailedListingLeavesTheClipboardAndEndsTheRefresh) {
  AgentSessionRegistry registry(std::make_unique<ThrowingIntegration>());
  test::awaitTask(registry.refresh(std::nullopt));
  EXPECT_EQ(registry.destinations(), std::vector<AgentDestination>{AgentDestination::clipboard()});
  EXPECT_FALSE(registry.refreshing());
}

}  // namespace
}  // namespace lumacap
