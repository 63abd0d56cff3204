#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "app/cli/HookHandler.h"
#include "core/AtomicFile.h"
#include "platform/linux/TerminalAncestorLookup.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using test::TempDir;

// A process tree held in memory: pid → (command, parent, executable path).
class FakeProcesses final : public ProcessSource {
 public:
  std::map<int32_t, std::tuple<std::string, int32_t, std::string>> table;
  std::map<int32_t, std::vector<std::string>> argumentLists;
  std::set<int32_t> inspected;

  std::optional<ProcessIdentity> inspect(int32_t pid) override {
    inspected.insert(pid);
    if (pid < 2 || !table.contains(pid)) return std::nullopt;
    return ProcessIdentity{pid, std::get<0>(table[pid]), "Sat Dec  5 09:41:07 2026"};
  }
  std::optional<int32_t> parent(int32_t pid) override {
    return table.contains(pid) ? std::optional(std::get<1>(table[pid])) : std::nullopt;
  }
  std::optional<std::filesystem::path> executablePath(int32_t pid) override {
    if (!table.contains(pid) || std::get<2>(table[pid]).empty()) return std::nullopt;
    return std::get<2>(table[pid]);
  }
  std::optional<std::vector<std::string>> arguments(int32_t pid) override {
    if (!argumentLists.contains(pid)) return std::nullopt;
    return argumentLists[pid];
  }
  std::map<int32_t, std::string> folders;
  std::vector<int32_t> processIDs(size_t) override {
    std::vector<int32_t> ids;
    for (const auto& entry : table) ids.push_back(entry.first);
    return ids;
  }
  std::optional<std::filesystem::path> workingFolder(int32_t pid) override {
    return folders.contains(pid) ? std::optional<std::filesystem::path>(folders[pid]) : std::nullopt;
  }
};

class FakeApplications final : public RunningApplicationLookup {
 public:
  std::map<int32_t, std::optional<std::string>> bundles;
  std::optional<RunningApplication> application(int32_t pid) override {
    const auto found = bundles.find(pid);
    if (found == bundles.end()) return std::nullopt;
    return RunningApplication{pid, found->second};
  }
};

class HookHandlerTest : public ::testing::Test {
 protected:
  HookHandler handler() {
    return HookHandler({.processes = processes,
                        .applications = applications,
                        .sessions = SessionRepository(root.path()),
                        .hookPid = 1000,
                        .now = [] { return Date{500}; }});
  }
  HookInput input(std::string event, std::string id = "session-1") {
    return HookInput{std::move(id), "/work/webapp", std::move(event), "/home/me/.claude/projects/t.jsonl"};
  }
  std::optional<AgentSession> stored(const std::string& id = "session-1") {
    const auto file = SessionRepository(root.path()).file(id);
    if (!std::filesystem::exists(file)) return std::nullopt;
    return AgentSession::fromJson(readWholeFile(file));
  }

  TempDir root;
  FakeProcesses processes;
  FakeApplications applications;
};

// A line of processes from the hook's parent (pid 999) up, each the parent
// of the one before and the last a child of init ("cmd|path" adds the path
// of its executable, "cmd^" makes it its own parent), and whom the hook must
// record.
struct Ancestry {
  std::string name;
  std::vector<std::string> line;
  std::map<int32_t, std::optional<std::string>> windows;  // pid → window class
  std::optional<int32_t> agent;
  std::optional<int32_t> host;
  size_t examined = 0;  // processes probed, when that matters
};

TEST_F(HookHandlerTest, RecordsTheNearestAgentAndTheNearestApplicationWithAWindowClass) {
  std::vector<std::string> deep(99, "sh");
  deep[24] = "claude";  // 25 levels up
  const std::vector<Ancestry> cases = {
      {"terminal", {"sh", "claude", "zsh", "xterm"}, {{996, "XTerm"}}, 998, 996},
      {"nearest wins, windows without class skipped",
       {"claude-code", "tmux: server", "claude", "kitty", "gnome-terminal-"},
       {{998, std::nullopt}, {996, "kitty"}, {995, "Gnome-terminal"}},
       999,
       996},
      {"agent is its own host", {"Claude"}, {{999, "Claude"}}, 999, 999},
      {"no host", {"claude"}, {}, 999, std::nullopt},
      {"versioned install known by its path",
       {"2.0.1|/home/u/.local/share/claude/versions/2.0.1"},
       {},
       999,
       {}},
      {"no agent", {"bash", "claudette"}, {}, std::nullopt, std::nullopt},
      {"agent beyond the 24 processes examined", deep, {}, std::nullopt, std::nullopt, 24},
      {"self-parented", {"sh^"}, {}, std::nullopt, std::nullopt, 1},
  };
  for (const Ancestry& each : cases) {
    SCOPED_TRACE(each.name);
    processes.table = {{1000, {"lumacap", 999, ""}}};
    processes.inspected.clear();
    for (int32_t pid = 999; const std::string& process : each.line) {
      const size_t bar = process.find('|');
      const bool last = pid == 1000 - int32_t(each.line.size());
      processes.table[pid] = {process.substr(0, std::min(bar, process.find('^'))),
                              process.ends_with('^') ? pid
                              : last                 ? 1
                                                     : pid - 1,
                              bar == std::string::npos ? "" : process.substr(bar + 1)};
      --pid;
    }
    applications.bundles = each.windows;
    handler().handle(input("SessionStart"));
    const auto session = stored();
    EXPECT_EQ(session ? std::optional(session->process.pid) : std::nullopt, each.agent);
    EXPECT_EQ(session ? session->hostPID : std::nullopt, each.host);
    if (session && each.host) {
      EXPECT_EQ(session->hostBundleID, each.windows.at(*each.host));
    }
    if (session) {
      EXPECT_EQ(session->cwd, "/work/webapp");
      EXPECT_EQ(session->transcriptPath, "/home/me/.claude/projects/t.jsonl");
      EXPECT_EQ(session->updatedAt, Date{500});
      handler().handle(input("SessionEnd"));
      EXPECT_FALSE(stored());
    }
    if (each.examined) {
      EXPECT_EQ(processes.inspected.size(), each.examined);
    }
  }
  EXPECT_NO_THROW(handler().handle(input("SessionEnd"))) << "a missing file is no error";
}

// Codex's background server runs the hooks of the interfaces attached to it,
// far from their terminals: the session is the one Codex interface working in
// its folder, with that interface's terminal; with two there, the server's.
TEST_F(HookHandlerTest, ACodexSessionItsServerRunsIsTheInterfaceInItsFolder) {
  processes.table = {{1000, {"lumacap", 999, ""}}, {999, {"bash", 900, ""}}, {900, {"codex", 1, ""}},
                     {500, {"codex", 499, ""}},    {499, {"node", 498, ""}}, {498, {"xterm", 1, ""}},
                     {600, {"codex", 598, ""}},    {598, {"xterm", 1, ""}}};
  processes.argumentLists = {{900, {"codex", "app-server", "--listen", "unix://"}},
                             {500, {"codex", "--remote", "unix://"}}};
  processes.folders = {{900, "/work/webapp"}, {500, "/work/webapp"}, {600, "/work/other"}};
  applications.bundles = {{498, "XTerm"}, {598, "XTerm"}};
  const auto codex = [&] {
    HookHandler({.processes = processes,
                 .applications = applications,
                 .sessions = SessionRepository(root.path()),
                 .hookPid = 1000,
                 .agent = CodingAgent::find("codex")})
        .handle(input("SessionStart"));
    return stored().value();
  };
  EXPECT_EQ(std::pair(codex().process.pid, codex().hostPID), std::pair(500, std::optional(498)));
  processes.folders[600] = "/work/webapp";
  EXPECT_EQ(std::pair(codex().process.pid, codex().hostPID), std::pair(900, std::optional<int32_t>()));
}

// Inside a Wayland session the host is the nearest ancestor that is a known
// terminal emulator, named by the application id it gives its windows.
TEST_F(HookHandlerTest, OnWaylandTheHostIsTheNearestTerminalEmulator) {
  struct Case {
    std::string name;
    std::vector<std::tuple<std::string, std::string>> line;  // command, executable path
    std::optional<int32_t> host;
    std::optional<std::string> id;
  };
  const std::vector<Case> cases = {
      {"foot", {{"claude", ""}, {"zsh", ""}, {"foot", ""}}, 997, "foot"},
      {"inside tmux the client's terminal is not an ancestor",
       {{"claude", ""}, {"bash", ""}, {"tmux: server", ""}},
       std::nullopt,
       std::nullopt},
      {"a command cut to 15 bytes, confirmed by its path",
       {{"claude", ""}, {"bash", ""}, {"gnome-terminal-", "/usr/libexec/gnome-terminal-server"}},
       997,
       "org.gnome.Terminal"},
      {"a cut name whose path is another program",
       {{"claude", ""}, {"bash", ""}, {"gnome-terminal-", "/opt/gnome-terminal-helper"}, {"konsole", ""}},
       996,
       "org.kde.konsole"},
      {"the nearest of two", {{"claude", ""}, {"kitty", ""}, {"sh", ""}, {"alacritty", ""}}, 998, "kitty"},
      {"an editor's terminal is no terminal emulator", {{"claude", ""}, {"bash", ""}, {"code", ""}}, {}, {}},
  };
  ProcessSource& source = processes;
  TerminalAncestorLookup terminals(source);
  for (const Case& each : cases) {
    SCOPED_TRACE(each.name);
    processes.table = {{1000, {"lumacap", 999, ""}}};
    int32_t pid = 999;
    for (const auto& [command, path] : each.line) {
      processes.table[pid] = {command, pid == 1000 - int32_t(each.line.size()) ? 1 : pid - 1, path};
      --pid;
    }
    HookHandler({.processes = processes,
                 .applications = terminals,
                 .sessions = SessionRepository(root.path()),
                 .hookPid = 1000,
                 .now = [] { return Date{500}; }})
        .handle(input("SessionStart"));
    const auto session = stored();
    ASSERT_TRUE(session);
    EXPECT_EQ(session->hostPID, each.host);
    EXPECT_EQ(session->hostBundleID, each.id);
  }
}

TEST(HookHandlerAgentNames, CommandsAndVersionedPaths) {
  for (const char* agent :
       {"claude", "Claude", "claude-code", "/usr/bin/claude", "/home/u/.local/share/claude/versions/2.0.1"}) {
    EXPECT_TRUE(HookHandler::isAgent(agent)) << agent;
  }
  for (const char* other : {"claudette", "claude.sh", "/home/u/.local/share/claude/versions/latest", "node",
                            "/opt/claude/versions/", ""}) {
    EXPECT_FALSE(HookHandler::isAgent(other)) << other;
  }
}

// Each agent's record, in its own keys, from its process as it runs: the
// nearest one in the hook's ancestry (Gemini CLI's relaunched child, not its
// launcher; Codex's native binary, not the npm wrapper), recorded by what
// names it across pid reuse; its end removes the session.
TEST_F(HookHandlerTest, EachAgentIsFoundByItsProcessAndItsRecordInItsKeys) {
  struct Case {
    std::string agent;       // the value of --agent-hook
    std::string start, end;  // records
    std::tuple<std::string, std::string, std::vector<std::string>> process,
        launcher;  // command, path, arguments
    std::string recorded;
  };
  const std::string gemini = "/usr/lib/node_modules/@google/gemini-cli/bundle/gemini.js";
  const auto record = [](std::string event) {
    return R"({"session_id":"s1","cwd":"/work/webapp","transcript_path":"/t.jsonl","hook_event_name":")" +
           event + R"("})";
  };
  const std::vector<Case> cases = {
      {"codex",
       record("SessionStart"),
       record("SessionEnd"),
       {"codex", "/opt/codex/vendor/x86_64-unknown-linux-musl/bin/codex", {}},
       {"node", "/usr/bin/node", {"node", "/usr/bin/codex", "exec"}},
       "codex"},
      {"gemini",
       record("SessionStart"),
       record("SessionEnd"),
       {"node", "/usr/bin/node", {"/usr/bin/node", "--max-old-space-size=4096", gemini, "-p", "hi"}},
       {"node", "/usr/bin/node", {"node", "/usr/bin/gemini", "-p", "hi"}},
       gemini},
      {"copilot",
       R"({"sessionId":"s1","timestamp":1,"cwd":"/work/webapp","source":"new"})",
       R"({"sessionId":"s1","cwd":"/work/webapp","reason":"exit"})",
       {"MainThread", "/opt/copilot-linux-x64/copilot", {}},
       {"node", "/usr/bin/node", {"node", "/usr/bin/copilot"}},
       "copilot"},
      {"qwen",
       record("SessionStart"),
       record("SessionEnd"),
       {"node", "/usr/bin/node", {"node", "/usr/lib/node_modules/@qwen-code/qwen-code/cli.js"}},
       {"bash", "/usr/bin/bash", {}},
       "/usr/lib/node_modules/@qwen-code/qwen-code/cli.js"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.agent);
    const CodingAgent* agent = HookHandler::agentOption(each.agent)->first;
    processes.table = {{1000, {"lumacap", 999, ""}},
                       {999, {"sh", 998, "/bin/sh"}},
                       {998, {std::get<0>(each.process), 997, std::get<1>(each.process)}},
                       {997, {std::get<0>(each.launcher), 1, std::get<1>(each.launcher)}}};
    processes.argumentLists = {{998, std::get<2>(each.process)}, {997, std::get<2>(each.launcher)}};
    const auto run = [&](const std::string& bytes, const std::string& copilotEvent) {
      const std::string named = agent->eventKey.empty() ? copilotEvent : "";
      HookHandler({.processes = processes,
                   .applications = applications,
                   .sessions = SessionRepository(root.path()),
                   .hookPid = 1000,
                   .now = [] { return Date{500}; },
                   .agent = agent,
                   .event = named})
          .handle(HookInput::decode(bytes, *agent, named));
    };
    run(each.start, "sessionStart");
    const auto session = stored("s1");
    ASSERT_TRUE(session);
    EXPECT_EQ(session->agent, each.agent);
    EXPECT_EQ(session->process.pid, 998);
    EXPECT_EQ(session->process.executable, each.recorded);
    EXPECT_EQ(session->cwd, "/work/webapp");
    EXPECT_EQ(processes.probeAgent(998, *agent).identity, session->process) << "the listing sees it alive";
    run(each.end, "sessionEnd");
    EXPECT_FALSE(stored("s1"));
  }
}

// Standard input as a pipe; the writer side belongs to the test.
struct Pipe {
  Pipe() { EXPECT_EQ(::pipe(ends), 0); }
  ~Pipe() {
    ::close(ends[0]);
    closeWriter();
  }
  // Fails quietly once the reader has gone.
  void write(const std::string& bytes) { (void)!::write(ends[1], bytes.data(), bytes.size()); }
  void closeWriter() { ::close(std::exchange(ends[1], -1)); }
  int ends[2] = {-1, -1};
};

const std::string stopRecord = R"({"session_id":"a","cwd":"/","hook_event_name":"Stop"})";

struct Reading {
  std::string name;
  std::function<void(Pipe&, const std::atomic<bool>& reading)> writer;
  HookHandler::ReadLimits limits;
  std::optional<size_t> size;  // nothing: reading gives up (ETIMEDOUT)
};

// A record followed by silence (Claude Code may leave standard input open)
// and one beyond the size limit are CommandLineTest's, on the executable.
TEST(HookRecordReadingTest, ReadsOneRecordWithinTheTimeLimit) {
  using std::chrono::milliseconds;
  const std::vector<Reading> cases = {
      {"to the end of input",
       [](Pipe& input, const auto&) {
         input.write(stopRecord.substr(0, 20));
         std::this_thread::sleep_for(milliseconds(50));
         input.write(stopRecord.substr(20));
         input.closeWriter();
       },
       {},
       stopRecord.size()},
      // A pause longer than the quiet time after each of these: a reader that
      // took them for the record's end would return it cut short.
      {"a brace and an escaped quote inside a string",
       [](Pipe& input, const auto&) {
         for (const char* piece : {R"({"a":"})", R"(\)", R"("})", R"("})"}) {
           input.write(piece);
           std::this_thread::sleep_for(milliseconds(150));
         }
         input.closeWriter();
       },
       {milliseconds(50), milliseconds(3000)},
       std::string(R"({"a":"}\"}"})").size()},
      {"an incomplete record that stays open",
       [](Pipe& input, const auto&) { input.write(stopRecord.substr(0, 20)); },
       {milliseconds(20), milliseconds(200)},
       std::nullopt},
      // A writer that keeps sending a space now and then must not keep the hook alive.
      {"a trickle after a complete record",
       [](Pipe& input, const std::atomic<bool>& reading) {
         input.write(stopRecord);
         for (int i = 0; i < 100 && reading; ++i) {  // 5 s at most
           input.write(" ");
           std::this_thread::sleep_for(milliseconds(50));
         }
       },
       {milliseconds(100), milliseconds(500)},
       0},
  };
  ::signal(SIGPIPE, SIG_IGN);
  for (const Reading& each : cases) {
    SCOPED_TRACE(each.name);
    std::atomic<bool> reading = true;
    std::optional<Pipe> input(std::in_place);
    std::thread writer([&] { each.writer(*input, reading); });
    const auto start = std::chrono::steady_clock::now();
    std::optional<size_t> size;
    try {
      size = HookHandler::readRecord(input->ends[0], each.limits).size();
    } catch (const std::system_error& error) {
      EXPECT_EQ(error.code().value(), ETIMEDOUT);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              each.limits.withoutCompleteValue + milliseconds(1500));
    reading = false;
    ::close(std::exchange(input->ends[0], -1));
    writer.join();
    EXPECT_EQ(size.has_value(), each.size.has_value());
    if (size && *each.size) {
      EXPECT_EQ(*size, *each.size);
    }
  }
}

// A large record written in small pieces arrives whole (what reading it
// costs is hook_bench's).
TEST(HookRecordReadingTest, ASlowLargeRecordArrivesWhole) {
  Pipe input;
  const std::string head = R"({"session_id":"a","cwd":"/","hook_event_name":"Stop","pad":")";
  std::thread writer([&] {
    input.write(head);
    for (int i = 0; i < 900; ++i) {
      input.write(std::string(1000, 'x'));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    input.write("\"}");
    input.closeWriter();
  });
  const std::string read = HookHandler::readRecord(input.ends[0]);
  writer.join();
  EXPECT_EQ(read, head + std::string(900000, 'x') + "\"}");
}

}  // namespace
}  // namespace lumacap
