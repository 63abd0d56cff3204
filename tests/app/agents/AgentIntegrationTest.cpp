// Delivery: the Claude Code integration, the router, the paste hints and the
// registry of sessions the preview offers.
#include <gtest/gtest.h>

#include <QImage>
#include <fstream>

#include "app/agents/AgentIntegration.h"
#include "app/agents/AgentRouter.h"
#include "app/agents/AgentSessionRegistry.h"
#include "core/AgentTranscript.h"
#include "core/ScreenshotStore.h"
#include "core/StagingText.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeProcessSource.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/linux/ProcSource.h"
#include "platform/linux/TerminalAncestorLookup.h"
#include "support/AwaitTask.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using test::awaitTask;

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
  AgentRouter router{pasteboard, integration};
  const std::filesystem::path file = "/home/me/.local/share/Lumacap/Captures/shot 1.png";
};

TEST_F(ClaudeCodeIntegrationTest, ListsLiveSessionsNewestFirstAsDestinations) {
  EXPECT_EQ(awaitTask(integration.destinations()), std::vector<AgentDestination>{});

  const SessionRepository repository(root.path());
  const AgentSession older = session("6a1f0c52-0e1b-4a7d", "/work/webapp", 100, 10.0);
  const AgentSession newer = session("abcd", "/srv/api", 101, 20.0, "XTerm", 7);
  const AgentSession ended = session("ended-session", "/work/old", 102, 30.0);
  for (const AgentSession& each : {older, newer, ended}) repository.write(each);
  processes.add(older.process);
  processes.add(newer.process);
  processes.add(ProcessIdentity{102, "claude", "Sun Dec  6 08:00:00 2026"});  // pid reused since

  const auto listed = awaitTask(integration.destinations());
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0], (AgentDestination{"abcd", "Claude Code · api", "Active · /srv/api · abcd", newer}));
  EXPECT_EQ(listed[1], (AgentDestination{"6a1f0c52-0e1b-4a7d", "Claude Code · webapp",
                                         "Active · /work/webapp · 6a1f0c", older}));
  // The short id counts characters, not bytes.
  EXPECT_EQ(ClaudeCodeIntegration::destination(session("éàü-ö-ç-x", "/a/b", 5, 0)).detail,
            "Active · /a/b · éàü-ö-");
}

// A transcript as Claude Code writes it: one record a line.
std::string userRecord(const std::string& content) {
  return R"({"type":"user","message":{"role":"user","content":)" + content + "}}\n";
}

TEST_F(ClaudeCodeIntegrationTest, SessionsOfOneFolderAreToldApartByTheirLastPromptElseWindowElseStart) {
  const test::ScopedEnvironment utc{{{"TZ", "UTC0"}}};
  const SessionRepository repository(root.path());
  const auto transcript = [&](const std::string& name, const std::string& lines) {
    std::ofstream(root / name, std::ios::binary) << lines;
    return std::optional((root / name).string());
  };
  std::vector<AgentSession> sessions{session("a", "/work/webapp", 100, 70.0),
                                     session("b", "/work/webapp", 101, 60.0),
                                     session("c", "/work/webapp", 102, 50.0, "XTerm", 7),
                                     session("d", "/work/webapp", 103, 40.0, "XTerm", 8),
                                     session("e", "/work/webapp", 104, 30.0, "XTerm", 9),
                                     session("f", "/work/webapp", 105, 20.0),
                                     session("g", "/srv/api", 106, 10.0)};
  sessions[0].transcriptPath = transcript(
      "a.jsonl",
      userRecord(R"("an older prompt")") +
          userRecord(R"("  Fix the login\nredirect that loops forever after logout ")") +
          R"({"type":"assistant","message":{"role":"assistant","content":[{"type":"text","text":"Done."}]}})"
          "\n");
  // What Claude Code records as the user's turn without the user typing it is passed over.
  sessions[1].transcriptPath = transcript(
      "b.jsonl", userRecord(R"([{"type":"text","text":"add tests"}])") +
                     userRecord(R"([{"type":"tool_result","tool_use_id":"t1","content":"ok"}])") +
                     R"({"type":"user","isMeta":true,"message":{"role":"user","content":"Caveat: x"}})"
                     "\n" +
                     userRecord(R"("<command-name>/clear</command-name>")") + "{\"type\":\"user\",");
  // The same prompt in two sessions says nothing: their windows or starts do.
  sessions[2].transcriptPath = transcript("c.jsonl", userRecord(R"("run it")"));
  sessions[3].transcriptPath = transcript("d.jsonl", userRecord(R"("run it")"));
  sessions[3].process.started = "Sat Dec  5 14:02:59 2026";
  // A link is not followed, and a prompt further back than the bounded tail is not read.
  std::filesystem::create_symlink(root / "a.jsonl", root / "link.jsonl");
  sessions[4].transcriptPath = (root / "link.jsonl").string();
  sessions[5].transcriptPath = transcript(
      "f.jsonl", userRecord(R"("too far back")") + std::string(AgentTranscript::tailSize, ' ') + "\n");
  for (const AgentSession& each : sessions) {
    repository.write(each);
    processes.add(each.process);
  }
  workspace.setWindowTitle(7, "  ✳ Claude Code ");
  workspace.setWindowTitle(8, "Claude Code");
  workspace.setWindowTitle(9, "Claude Code");

  std::vector<std::string> titles;
  for (const AgentDestination& destination : awaitTask(integration.destinations()))
    titles.push_back(destination.title);
  EXPECT_EQ(titles, (std::vector<std::string>{
                        "Claude Code · webapp · “Fix the login redirect that loops forev…”",
                        "Claude Code · webapp · “add tests”", "Claude Code · webapp · ✳ Claude Code",
                        "Claude Code · webapp · started 14:02:59", "Claude Code · webapp · e",
                        "Claude Code · webapp · f", "Claude Code · api"}));
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
    EXPECT_EQ(awaitTask(integration.stage(file, "", destination)), (DeliveryReceipt{"Staged", notActivated}));
  }
  EXPECT_TRUE(workspace.activations().empty());

  // The right application, whose activation request could not be sent.
  workspace.add(DesktopApplication{613, "XTerm", "XTerm", "t0"});
  workspace.setActivationSent(false);
  const auto destination = liveDestination(session("s2", "/work/webapp", 301, 1, "XTerm", 613));
  EXPECT_EQ(awaitTask(integration.stage(file, "", destination)).message, notActivated);
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
    EXPECT_THROW(awaitTask(integration.stage(file, "message", destination)), IntegrationError);
  }
  processes.remove(300);
  EXPECT_THROW(awaitTask(integration.stage(file, "message", destination)), IntegrationError);

  EXPECT_EQ(pasteboard.writes(), 1);
  EXPECT_EQ(pasteboard.image(), image);
  EXPECT_TRUE(workspace.activations().empty());
}

// Another agent's session: named by that agent in the menu, staged in the
// text that agent understands, and refused in words that do not name Claude
// Code once its process is gone.
TEST_F(ClaudeCodeIntegrationTest, AnotherAgentsSessionIsNamedAndStagedForThatAgent) {
  AgentSession codex = session("c1", "/work/webapp", 400, 5);
  codex.agent = "codex";
  codex.process.executable = "codex";
  SessionRepository(root.path()).write(codex);
  processes.add(codex.process);
  const auto listed = awaitTask(integration.destinations());
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].title, "Codex · webapp");
  EXPECT_EQ(awaitTask(integration.stage(file, " why? ", listed[0])).status, "Staged");
  EXPECT_EQ(pasteboard.text(), "\"" + file.string() + "\"\n\nwhy?");
  EXPECT_EQ(StagingText::make("/c/shot-1.png", "", StagingStyle::pathAlone), "/c/shot-1.png");
  EXPECT_EQ(StagingText::make(file, "why?", StagingStyle::mentionedPath),
            "@/home/me/.local/share/Lumacap/Captures/shot\\ 1.png\n\nwhy?");

  processes.add(ProcessIdentity{400, "node", codex.process.started});
  try {
    awaitTask(integration.stage(file, "", listed[0]));
    ADD_FAILURE() << "a session whose process is gone was staged";
  } catch (const IntegrationError& error) {
    EXPECT_EQ(std::string(error.what()).find("Claude"), std::string::npos) << error.what();
  }
}

// A process in a fake /proc: stat, the Uid line of status, cmdline, and the
// links cwd and exe; its command is its first argument's file name.
void fakeProcess(const test::TempDir& proc, int32_t pid, int32_t parent, uint32_t user,
                 const std::vector<std::string>& arguments, const std::string& cwd = "/") {
  const auto folder = proc / std::to_string(pid);
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "stat") << pid << " (" << std::filesystem::path(arguments[0]).filename().string()
                                 << ") S " << parent << " 0 0 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 " << pid * 100;
  std::ofstream(folder / "status") << "Name:\tx\nUid:\t" << user << "\t" << user << "\t0\t0\n";
  std::ofstream cmdline(folder / "cmdline");
  for (const std::string& argument : arguments) cmdline << argument << '\0';
  std::filesystem::create_symlink(cwd, folder / "cwd");
  std::filesystem::create_symlink(arguments[0], folder / "exe");
}

// Agents found from their processes: under a terminal, of this user, not a
// tool another agent started, listed once beside a hooked session of the
// same process tree, and staged like one.
TEST_F(ClaudeCodeIntegrationTest, FindsAgentsUnderTheirTerminalsFromTheirProcesses) {
  test::TempDir proc;
  std::ofstream(proc / "stat") << "cpu 0\nbtime 1700000000\n";
  const std::string gemini = "/usr/lib/node_modules/@google/gemini-cli/dist/index.js";
  fakeProcess(proc, 10, 1, 1000, {"/usr/bin/xterm"});
  fakeProcess(proc, 11, 10, 1000, {"/bin/bash"});
  fakeProcess(proc, 12, 11, 1000, {"/usr/bin/python3", "/home/me/.local/bin/aider", "--4o"}, "/work/webapp");
  fakeProcess(proc, 13, 11, 1000, {"/usr/bin/codex"}, "/work/cli");
  fakeProcess(proc, 14, 12, 1000, {"/usr/bin/opencode"}, "/work/webapp");  // started by Aider
  fakeProcess(proc, 20, 1, 1000, {"/usr/bin/opencode"}, "/work/daemon");   // no terminal
  fakeProcess(proc, 30, 10, 1001, {"/usr/bin/amp"}, "/work/theirs");       // another user's
  fakeProcess(proc, 41, 11, 1000, {"node", gemini}, "/work/api");          // relaunches itself:
  fakeProcess(proc, 42, 41, 1000, {"node", gemini}, "/work/api");          // its hook recorded 41
  ProcSource source(proc.path().string());
  TerminalAncestorLookup terminals(source);
  integration.setProcessFinder([&] { return AgentProcessFinder(source, terminals, 1000).find(); });
  AgentSession hooked = session("g1", "/work/api", 41, 5, "XTerm", 10);
  hooked.agent = "gemini";
  SessionRepository(root.path()).write(hooked);
  processes.add(hooked.process);

  const auto listed = awaitTask(integration.destinations());
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].title, "Gemini · api");
  EXPECT_EQ(listed[1].title, "Aider · webapp");
  EXPECT_EQ(listed[1].note, "Found from its running process.");
  EXPECT_EQ(listed[2].title, "Codex · cli");
  EXPECT_EQ(listed[2].note,
            "Found from its running process. Install Codex’s hooks in Settings to make its "
            "sessions exact.");
  const AgentSession& aider = *listed[1].session;
  EXPECT_EQ(aider.process, (ProcessIdentity{12, "aider", ProcSource::formatStartTime(1700000000 + 12)}));
  EXPECT_EQ(std::tie(aider.agent, aider.hostBundleID, aider.hostPID),
            std::tuple("aider", std::optional<std::string>("XTerm"), std::optional(10)));

  processes.add(aider.process);
  EXPECT_EQ(awaitTask(integration.stage(file, "why?", listed[1])).status, "Staged");
  EXPECT_EQ(pasteboard.text(), StagingText::make(file, "why?", StagingStyle::sentence));
}

TEST_F(ClaudeCodeIntegrationTest, RefusesADestinationWithoutSession) {
  EXPECT_THROW(awaitTask(integration.stage(file, "", AgentDestination::clipboard())), StoreError);
  EXPECT_EQ(pasteboard.writes(), 0);
}

// The router goes by the session a destination carries, not by its id or title.
TEST_F(ClaudeCodeIntegrationTest, RouterGoesByTheSessionNotTheIdOrTitle) {
  QImage image(8, 6, QImage::Format_ARGB32);
  image.fill(Qt::darkCyan);
  const AgentSession recorded = session("S", "/work/webapp", 300, 0, "XTerm", 611);
  // No session, whatever the title says: the clipboard gets the text alone.
  pasteboard.setImage(image);
  const AgentDestination bare{"S", "Claude Code · webapp", "", std::nullopt};
  EXPECT_EQ(
      awaitTask(router.stage(file, "", bare)),
      (DeliveryReceipt{"Copied",
                       "Path and message copied. Paste into your agent to attach the saved image. Nothing "
                       "was submitted."}));
  EXPECT_EQ(pasteboard.text(), StagingText::make(file, ""));
  EXPECT_FALSE(pasteboard.image());

  // A session that ended leaves the captured image on the clipboard.
  pasteboard.setImage(image);
  EXPECT_THROW(awaitTask(router.stage(file, "look", ClaudeCodeIntegration::destination(recorded))),
               IntegrationError);
  EXPECT_EQ(pasteboard.image(), image);
  EXPECT_FALSE(pasteboard.text());

  // The clipboard's id and title, but a live session: the session.
  processes.add(recorded.process);
  const AgentDestination disguised{"clipboard", "Clipboard", "", recorded};
  EXPECT_EQ(awaitTask(router.stage(file, "look", disguised)).status, "Staged");
}

// XTerm, Firefox and the key after a text was copied for a terminal are
// AppModelTest's.
TEST(PasteHintTest, NamesTheApplicationAndTheKeyThatPastesThere) {
  const std::pair<std::optional<DesktopApplication>, const char*> cases[] = {
      {std::nullopt, "Ready in your app · Ctrl+V to paste"},
      {DesktopApplication{5, "kitty", std::nullopt, "t"}, "Ready in your app · Claude image paste: Ctrl+V"},
      {DesktopApplication{5, std::nullopt, "", "t"}, "Ready in your app · Ctrl+V to paste"},
      // Window classes match exactly: the instance part is not the class.
      {DesktopApplication{5, "xterm", "XTerm", "t"}, "Ready in XTerm · Ctrl+V to paste"},
  };
  for (const auto& [application, hint] : cases) EXPECT_EQ(PasteHint::make(application), hint);
  EXPECT_EQ(PasteHint::afterTextCopied(DesktopApplication{5, "firefox", "Firefox", "t"}),
            "Path + message copied · Ctrl+V to paste");
  EXPECT_EQ(PasteHint::afterTextCopied(std::nullopt), "Path + message copied · Ctrl+V to paste");
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

// Only an exact match of the window class moves a session forward.
TEST_F(AgentSessionRegistryTest, PutsSessionsOfThePreferredApplicationFirstKeepingTheirOrder) {
  addLiveSession("A", 30, "xterm");
  addLiveSession("B", 20, "XTerm");
  addLiveSession("C", 10, "XTerm ");
  addLiveSession("D", 5, std::nullopt);
  addLiveSession("E", 1, "XTerm");

  refresh("XTerm");
  EXPECT_EQ(idsOf(registry->destinations()),
            (std::vector<std::string>{"clipboard", "B", "E", "A", "C", "D"}));

  refresh(std::nullopt);
  EXPECT_EQ(idsOf(registry->destinations()),
            (std::vector<std::string>{"clipboard", "A", "B", "C", "D", "E"}));
}

// The second request is served by a listing of its own, with its preference.
TEST_F(AgentSessionRegistryTest, ARefreshAskedForWhileOneRunsListsOnceMoreAfterIt) {
  addLiveSession("A", 30, std::nullopt);
  addLiveSession("B", 20, "XTerm");
  int refreshingChanged = 0;
  QObject::connect(registry.get(), &AgentSessionRegistry::refreshingChanged, [&] { ++refreshingChanged; });

  processes.holdProbes();  // keeps the first listing running
  auto first = registry->refresh(std::nullopt);
  auto second = registry->refresh("XTerm");
  auto third = registry->refresh("XTerm");
  EXPECT_FALSE(second.isReady());
  processes.releaseProbes();
  test::awaitTask(std::move(second));
  EXPECT_TRUE(third.isReady());
  EXPECT_TRUE(first.isReady());

  EXPECT_FALSE(registry->refreshing());
  EXPECT_EQ(refreshingChanged, 2);
  EXPECT_EQ(processes.inspections(), 4);  // two listings of two probes each
  EXPECT_EQ(idsOf(registry->destinations()), (std::vector<std::string>{"clipboard", "B", "A"}));
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
