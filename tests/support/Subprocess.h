#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace lumacap::test {

using namespace std::chrono_literals;

struct ProcessResult {
  int exitStatus = -1;  // -1 when it did not exit normally
  std::string standardOutput;
  std::string standardError;
};

// Every child the test support starts runs in a process group of its own,
// dies with the test process (PR_SET_PDEATHSIG) and is recorded, so that the
// handler installed here can end every group when the test process is
// stopped by SIGTERM, SIGINT or SIGHUP.
void killRecordedGroupsOnSignals();

// Forks a child that runs `body` and exits with its result (127 when it
// throws). The child has the same safeguards as the processes above.
pid_t forkChild(const std::function<int()>& body);

// How a forked child ended: its exit status, -1 when a signal ended it, or
// -2 when it was still running at the deadline (it is killed then).
struct ChildEnd {
  int exitStatus = -1;
  int signal = 0;
};
ChildEnd waitForChild(pid_t pid, std::chrono::milliseconds timeout = 60s);
ChildEnd runInChild(const std::function<int()>& body, std::chrono::milliseconds timeout = 60s);

// Runs a program to its end, feeding `input` on standard input. `environment`
// entries are added to (or replace those of) the test's environment. Throws
// when it is still running after `timeout` (it is killed then).
ProcessResult runProcess(const std::vector<std::string>& arguments, const std::string& input = {},
                         const std::map<std::string, std::string>& environment = {},
                         std::chrono::milliseconds timeout = 60s);

// A program running in the background, killed (SIGTERM, then SIGKILL) with
// its process group and reaped when the object goes.
class BackgroundProcess {
 public:
  // Standard output and error go to /dev/null unless `output` is a descriptor.
  BackgroundProcess(const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment = {}, int output = -1);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;
  BackgroundProcess(BackgroundProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}

  pid_t pid() const { return pid_; }
  bool running();
  void stop();

 private:
  pid_t pid_ = -1;
};

// Polls `condition` until it holds or `timeout` passes; returns its last value.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

// The path of the built `lumacap` executable (from $LUMACAP_BINARY).
std::string lumacapBinary();

}  // namespace lumacap::test
