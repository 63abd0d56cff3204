#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <set>
#include <thread>

#include "app/HookHandler.h"
#include "core/AtomicFile.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using test::TempDir;

// A process tree held in memory: pid → (command, parent).
class FakeProcesses final : public ProcessSource {
 public:
  void add(int32_t pid, std::string command, int32_t parent, std::string path = {}) {
    processes_[pid] = {std::move(command), parent, std::move(path)};
  }
  std::optional<ProcessIdentity> inspect(int32_t pid) override {
    inspected.insert(pid);
    const auto found = processes_.find(pid);
    if (pid < 2 || found == processes_.end()) return std::nullopt;
    return ProcessIdentity{pid, found->second.command, "Sat Dec  5 09:41:07 2026"};
  }
  std::optional<int32_t> parent(int32_t pid) override {
    const auto found = processes_.find(pid);
    if (found == processes_.end()) return std::nullopt;
    return found->second.parent;
  }
  std::optional<std::filesystem::path> executablePath(int32_t pid) override {
    const auto found = processes_.find(pid);
    if (found == processes_.end() || found->second.path.empty()) return std::nullopt;
    return found->second.path;
  }
  std::set<int32_t> inspected;

 private:
  struct Process {
    std::string command;
    int32_t parent;
    std::string path;
  };
  std::map<int32_t, Process> processes_;
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
    return HookInput{std::move(id), "/work/webapp", std::move(event)};
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

TEST_F(HookHandlerTest, RecordsTheNearestAgentAndItsTerminal) {
  // hook(1000) ← sh(999) ← claude(998) ← zsh(997) ← xterm(996) ← systemd(1)
  processes.add(1000, "lumacap", 999);
  processes.add(999, "sh", 998);
  processes.add(998, "claude", 997);
  processes.add(997, "zsh", 996);
  processes.add(996, "xterm", 1);
  applications.bundles[996] = "XTerm";
  handler().handle(input("SessionStart"));
  const auto session = stored();
  ASSERT_TRUE(session);
  EXPECT_EQ(session->process, (ProcessIdentity{998, "claude", "Sat Dec  5 09:41:07 2026"}));
  EXPECT_EQ(session->hostBundleID, "XTerm");
  EXPECT_EQ(session->hostPID, 996);
  EXPECT_EQ(session->cwd, "/work/webapp");
  EXPECT_EQ(session->updatedAt, Date{500});

  handler().handle(input("SessionEnd"));
  EXPECT_FALSE(stored());
  EXPECT_NO_THROW(handler().handle(input("SessionEnd"))) << "a missing file is no error";
}

TEST_F(HookHandlerTest, NearestMatchesWinAndApplicationsWithoutBundleAreSkipped) {
  processes.add(1000, "lumacap", 999);
  processes.add(999, "claude-code", 998);  // nearest agent
  processes.add(998, "tmux: server", 997);
  applications.bundles[998] = std::nullopt;  // a window without a class
  processes.add(997, "claude", 996);
  processes.add(996, "kitty", 995);
  applications.bundles[996] = "kitty";
  processes.add(995, "gnome-terminal-", 1);
  applications.bundles[995] = "Gnome-terminal";
  handler().handle(input("UserPromptSubmit"));
  ASSERT_TRUE(stored());
  EXPECT_EQ(stored()->process.pid, 999);
  EXPECT_EQ(stored()->hostBundleID, "kitty");
  EXPECT_EQ(stored()->hostPID, 996);
}

TEST_F(HookHandlerTest, AgentCanBeItsOwnHostAndHostCanBeMissing) {
  processes.add(1000, "lumacap", 999);
  processes.add(999, "Claude", 1);
  applications.bundles[999] = "Claude";
  handler().handle(input("Stop"));
  ASSERT_TRUE(stored());
  EXPECT_EQ(stored()->hostPID, 999);

  applications.bundles.clear();
  handler().handle(input("Stop", "session-2"));
  ASSERT_TRUE(stored("session-2"));
  EXPECT_FALSE(stored("session-2")->hostBundleID);
  EXPECT_FALSE(stored("session-2")->hostPID);
}

TEST_F(HookHandlerTest, NoAgentWritesNothing) {
  processes.add(1000, "lumacap", 999);
  processes.add(999, "bash", 998);
  processes.add(998, "claudette", 1);
  handler().handle(input("SessionStart"));
  EXPECT_FALSE(std::filesystem::exists(SessionRepository(root.path()).directory()));
}

TEST_F(HookHandlerTest, AgentNames) {
  for (const char* agent :
       {"claude", "Claude", "claude-code", "/usr/bin/claude", "/home/u/.local/share/claude/versions/2.0.1"}) {
    EXPECT_TRUE(HookHandler::isAgent(agent)) << agent;
  }
  for (const char* other : {"claudette", "claude.sh", "/home/u/.local/share/claude/versions/latest", "node",
                            "/opt/claude/versions/", ""}) {
    EXPECT_FALSE(HookHandler::isAgent(other)) << other;
  }
  // /proc shows only the command; a versioned install is known by its executable's path.
  processes.add(1000, "lumacap", 999);
  processes.add(999, "2.0.1", 1, "/home/u/.local/share/claude/versions/2.0.1");
  handler().handle(input("SessionStart"));
  ASSERT_TRUE(stored());
  EXPECT_EQ(stored()->process.executable, "2.0.1");
}

TEST_F(HookHandlerTest, WalkExaminesAtMostTwentyFourAncestors) {
  // hook 1000 ← 999 ← … ← 900; the agent sits 25 levels up.
  processes.add(1000, "lumacap", 999);
  for (int32_t pid = 999; pid > 900; --pid) processes.add(pid, pid == 975 ? "claude" : "sh", pid - 1);
  handler().handle(input("SessionStart"));
  EXPECT_FALSE(stored());
  EXPECT_EQ(processes.inspected.size(), 24u);
  EXPECT_TRUE(processes.inspected.count(976));
  EXPECT_FALSE(processes.inspected.count(975));
}

TEST_F(HookHandlerTest, WalkStopsAtInitAndAtSelfParentedOrMissingProcesses) {
  processes.add(1000, "lumacap", 999);
  processes.add(999, "sh", 999);  // its own parent
  handler().handle(input("SessionStart"));
  EXPECT_EQ(processes.inspected, (std::set<int32_t>{999}));
  processes.inspected.clear();
  processes.add(999, "sh", 1);
  handler().handle(input("SessionStart"));
  EXPECT_EQ(processes.inspected, (std::set<int32_t>{999}));
}

// Standard input as a pipe whose writer the test controls.
class Pipe {
 public:
  Pipe() { EXPECT_EQ(::pipe(ends_), 0); }
  ~Pipe() {
    ::close(ends_[0]);
    closeWriter();
  }
  void write(const std::string& bytes) {
    EXPECT_EQ(::write(ends_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void closeWriter() {
    if (ends_[1] >= 0) ::close(ends_[1]);
    ends_[1] = -1;
  }
  int reader() const { return ends_[0]; }

 private:
  int ends_[2] = {-1, -1};
};

TEST(HookRecordReadingTest, ReadsToEndOfInput) {
  Pipe input;
  input.write(R"({"session_id":"a",)");
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    input.write(R"("cwd":"/","hook_event_name":"Stop"})");
    input.closeWriter();
  });
  EXPECT_EQ(HookHandler::readRecord(input.reader()),
            R"({"session_id":"a","cwd":"/","hook_event_name":"Stop"})");
  writer.join();
}

TEST(HookRecordReadingTest, StopsOnceACompleteRecordIsFollowedBySilence) {
  Pipe input;
  const std::string record = R"({"session_id":"a","cwd":"/","hook_event_name":"Stop"})";
  input.write(record + "\n");
  // The writer keeps the pipe open; reading must not wait for it.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HookHandler::readRecord(input.reader(),
                                    {std::chrono::milliseconds(100), std::chrono::milliseconds(3000)}),
            record + "\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
}

TEST(HookRecordReadingTest, GivesUpOnAnIncompleteRecordThatStaysOpen) {
  Pipe input;
  input.write(R"({"session_id":)");
  try {
    HookHandler::readRecord(input.reader(), {std::chrono::milliseconds(20), std::chrono::milliseconds(200)});
    FAIL() << "expected a read error";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), ETIMEDOUT);
  }
}

TEST(HookRecordReadingTest, ReadsAtMostOneByteMoreThanTheLimit) {
  Pipe input;
  std::thread writer([&] {
    const std::string block(65536, ' ');
    for (int i = 0; i < 20; ++i) input.write(block);  // 1.25 MiB
    input.closeWriter();
  });
  const std::string read = HookHandler::readRecord(input.reader());
  EXPECT_EQ(read.size(), HookInput::maximumSize + 1);
  // Drain the rest so that the writer finishes.
  char sink[65536];
  while (::read(input.reader(), sink, sizeof sink) > 0) {
  }
  writer.join();
}

// A writer that keeps sending a space now and then after a complete record
// must not keep the hook alive beyond the time limit.
TEST(HookRecordReadingTest, TheTimeLimitBoundsTheWholeRead) {
  Pipe input;
  input.write(R"({"session_id":"a","cwd":"/","hook_event_name":"Stop"})");
  std::atomic<bool> reading = true;
  std::thread trickle([&] {
    for (int i = 0; i < 100 && reading; ++i) {
      input.write(" ");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  const std::string read = HookHandler::readRecord(
      input.reader(), {std::chrono::milliseconds(100), std::chrono::milliseconds(500)});
  const auto took = std::chrono::steady_clock::now() - start;
  reading = false;
  trickle.join();
  EXPECT_TRUE(read.starts_with(R"({"session_id")"));
  EXPECT_LT(took, std::chrono::seconds(2));
}

// A large record written in small pieces: each pause must not parse all
// that came before again.
TEST(HookRecordReadingTest, ASlowLargeRecordIsScannedOnce) {
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
  timespec before{}, after{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
  const std::string read = HookHandler::readRecord(input.reader());
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
  writer.join();
  EXPECT_EQ(read.size(), head.size() + 900000 + 2);
  const double milliseconds = (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
  EXPECT_LT(milliseconds, 250) << "processor time spent reading";
}

}  // namespace
}  // namespace lumacap
