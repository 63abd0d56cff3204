// An integration test program that is stopped mid-run (a cancelled CI job,
// an out-of-memory kill, Ctrl-C) must take everything it started with it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "platform/ProcessSource.h"
#include "support/IntegrationMain.h"

namespace lumacap {
namespace {

using namespace std::chrono_literals;

// Run only by the test below, in a child test program: it starts what test
// runs start, says so, and waits to be stopped.
TEST(ProcessLeakProbe, DISABLED_HoldsItsProcessesUntilStopped) {
  auto& server = test::sharedXServer();
  auto& terminal = server.start({"xterm", "-e", "sleep", "600"});
  ASSERT_TRUE(server.waitForWindow("XTerm", terminal.pid()));
  auto& tray = server.start({test::lumacapBinary()});
  ASSERT_TRUE(server.waitForWindow("lumacap", tray.pid()));
  std::printf("\nready\n");
  std::fflush(stdout);
  std::this_thread::sleep_for(60s);
}

// Every process below `root`, with its identity to tell a reused pid.
std::map<int32_t, ProcessIdentity> descendants(int32_t root) {
  std::map<int32_t, int32_t> parents;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (const auto parent = ProcessSource::system().parent(std::stoi(name)))
      parents[std::stoi(name)] = *parent;
  }
  std::map<int32_t, ProcessIdentity> found;
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [pid, parent] : parents) {
      if ((parent == root || found.contains(parent)) && !found.contains(pid)) {
        if (const auto identity = ProcessSource::system().inspect(pid)) {
          found[pid] = *identity;
          grew = true;
        }
      }
    }
  }
  return found;
}

bool alive(const ProcessIdentity& process) {
  std::ifstream stat("/proc/" + std::to_string(process.pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line) || line.rfind(") Z") != std::string::npos) return false;
  return ProcessSource::system().inspect(process.pid) == process;
}

// Whether `wanted` arrives as a line on `fd` within `timeout`.
bool readLine(int fd, const std::string& wanted, std::chrono::milliseconds timeout) {
  std::string seen;
  return test::waitUntil(
      [&] {
        pollfd readable{fd, POLLIN, 0};
        char buffer[4096];
        if (::poll(&readable, 1, 100) > 0) {
          const ssize_t got = ::read(fd, buffer, sizeof buffer);
          if (got > 0) seen.append(buffer, size_t(got));
        }
        return seen.find("\n" + wanted + "\n") != std::string::npos;
      },
      timeout);
}

TEST(ProcessLeakTest, AStoppedTestProgramLeavesNoProcessBehind) {
  for (const int signal : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    int output[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    test::BackgroundProcess run({std::filesystem::read_symlink("/proc/self/exe").string(),
                                 "--gtest_filter=ProcessLeakProbe.*", "--gtest_also_run_disabled_tests"},
                                {}, {-1, output[1], -1});
    ::close(output[1]);
    const bool ready = readLine(output[0], "ready", 60s);
    ::close(output[0]);
    ASSERT_TRUE(ready) << "the probe did not start its processes";
    const auto started = descendants(run.pid());
    std::set<std::string> names;
    for (const auto& [pid, process] : started) names.insert(process.executable);
    for (const char* expected : {"Xvfb", "openbox", "trayer", "xterm", "sleep", "lumacap"}) {
      EXPECT_TRUE(names.contains(expected)) << expected << " was not started";
    }

    ::kill(run.pid(), signal);
    ASSERT_TRUE(test::waitUntil([&] { return !run.running(); }, 10s));
    std::vector<std::string> survivors;
    test::waitUntil(
        [&] {
          survivors.clear();
          for (const auto& [pid, process] : started) {
            if (alive(process)) survivors.push_back(process.executable + " (" + std::to_string(pid) + ")");
          }
          return survivors.empty();
        },
        10s);
    EXPECT_TRUE(survivors.empty()) << survivors.size() << " survived, the first " << survivors.front();
    for (const auto& [pid, process] : started) {
      if (alive(process)) ::kill(pid, SIGKILL);  // not left behind by this test either
    }
  }
}

}  // namespace
}  // namespace lumacap
