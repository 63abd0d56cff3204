// The hook against a real X server: its window list and a run from a terminal.
#include <gtest/gtest.h>

#include <signal.h>
#include <fstream>

#include "core/AtomicFile.h"
#include "platform/ProcessSource.h"
#include "platform/x11/XcbWindowList.h"
#include "support/IntegrationMain.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

TEST(XcbWindowListTest, NamesTheApplicationOwningAManagedWindow) {
  auto& server = test::sharedXServer();
  auto& terminal = server.start({"xterm", "-class", "HookTerm"});
  ASSERT_TRUE(server.waitForWindow("HookTerm", terminal.pid()));

  XcbWindowList windows(server.display());
  EXPECT_EQ(windows.application(terminal.pid()), (RunningApplication{terminal.pid(), "HookTerm"}));
  EXPECT_EQ(windows.application(1), std::nullopt);

  XcbWindowList unreachable(":9999");
  EXPECT_EQ(unreachable.application(terminal.pid()), std::nullopt);
}

using test::lumacapBinary;
using test::sharedXServer;
using test::TempDir;
using test::waitUntil;

std::string record(const std::string& event) {
  return R"({"session_id":"integration-session","cwd":"/work/webapp","hook_event_name":")" + event +
         R"(","transcript_path":"/tmp/t.jsonl"})";
}

// xterm → bash → claude → lumacap --claude-hook, as when Claude Code runs
// in a terminal and runs its hooks.
TEST(HookSessionIntegrationTest, SessionFileNamesTheAgentAndItsTerminal) {
  TempDir folder;
  const auto data = folder / "data";
  std::ofstream(folder / "start.json") << record("SessionStart");
  const auto agent = folder / "claude";
  // The agent waits for "go", as Claude Code starts long after its terminal.
  std::ofstream(agent) << "#!/bin/sh\n"
                       << "echo $$ > '" << (folder / "agent.pid").string() << "'\n"
                       << "while [ ! -e '" << (folder / "go").string() << "' ]; do sleep 0.05; done\n"
                       << "'" << lumacapBinary() << "' --claude-hook < '" << (folder / "start.json").string()
                       << "' 2> '" << (folder / "hook.err").string() << "'\n"
                       << "touch '" << (folder / "done").string() << "'\n"
                       << "sleep 600\n";
  std::filesystem::permissions(agent, std::filesystem::perms::owner_all);

  auto& server = sharedXServer();
  // "; true" keeps bash from replacing itself with the agent.
  auto& terminal = server.start({"xterm", "-e", "bash", "-c", agent.string() + "; true"},
                                {{"XDG_DATA_HOME", data.string()}});
  ASSERT_TRUE(server.waitForWindow("XTerm", terminal.pid()));
  std::ofstream(folder / "go").close();
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(folder / "done"); }));
  EXPECT_EQ(readWholeFile(folder / "hook.err"), "");

  const int32_t agentPid = std::stoi(readWholeFile(folder / "agent.pid"));
  const SessionRepository sessions(data / "Lumacap");
  const auto file = sessions.file("integration-session");
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(test::permissionsOf(file), 0600u);
  const auto session = AgentSession::fromJson(readWholeFile(file));
  ASSERT_TRUE(session);
  EXPECT_EQ(session->process.pid, agentPid);
  EXPECT_EQ(session->process.executable, "claude");
  EXPECT_EQ(session->hostBundleID, "XTerm");
  EXPECT_EQ(session->hostPID, terminal.pid());
  EXPECT_EQ(session->cwd, "/work/webapp");

  // Listed while the agent runs, dropped once it has exited.
  auto inspect = [](int32_t pid) { return ProcessSource::system().inspect(pid); };
  ASSERT_EQ(sessions.liveSessions(inspect).size(), 1u);
  ::kill(agentPid, SIGKILL);
  EXPECT_TRUE(waitUntil([&] { return sessions.liveSessions(inspect).empty(); }));
  EXPECT_TRUE(std::filesystem::exists(file)) << "listing leaves stale files alone";

  const auto end = test::runProcess({lumacapBinary(), "--claude-hook"}, record("SessionEnd"),
                                    {{"XDG_DATA_HOME", data.string()}});
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(end.standardError, "");
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace lumacap
