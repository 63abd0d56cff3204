#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace lumacap::test {

using namespace std::chrono_literals;

// Every child the test support starts runs in a process group of its own,
// dies with the test process (PR_SET_PDEATHSIG) and is recorded, so that the
// handler installed here can end every group when the test process is
// stopped by SIGTERM, SIGINT or SIGHUP.
void killRecordedGroupsOnSignals();

// How a child ended: its exit status (-1 when a signal ended it, -2 when it
// was still running at the deadline) and the signal that ended it.
struct ChildEnd {
  int exitStatus = -1;
  int signal = 0;
};

// A child process, killed (SIGTERM, then SIGKILL) with its process group and
// reaped when the object goes.
class BackgroundProcess {
 public:
  // Runs a program with standard input, output and error on the given
  // descriptors (-1: /dev/null); `environment` entries are added to (or
  // replace those of) the test's environment.
  explicit BackgroundProcess(const std::vector<std::string>& arguments,
                             const std::map<std::string, std::string>& environment = {},
                             std::array<int, 3> descriptors = {-1, -1, -1});
  // Runs `body` in a fork, which exits with its result (127 when it throws).
  explicit BackgroundProcess(const std::function<int()>& body);
  ~BackgroundProcess() { stop(); }
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // Waits for the end; a child still running after `timeout` is killed.
  ChildEnd wait(std::chrono::milliseconds timeout = 60s);
  void stop();

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  ChildEnd end_;
};

struct ProcessResult {
  int exitStatus = -1;  // -1 when it did not exit normally
  std::string standardOutput;
  std::string standardError;
};

// Runs a program to its end, feeding `input` on standard input. Throws when
// it is still running after `timeout` (it is killed then).
ProcessResult runProcess(const std::vector<std::string>& arguments, const std::string& input = {},
                         const std::map<std::string, std::string>& environment = {},
                         std::chrono::milliseconds timeout = 60s);

// Polls `condition` until it holds or `timeout` passes; returns its last value.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

// The path of the built `lumacap` executable (from $LUMACAP_BINARY).
std::string lumacapBinary();

}  // namespace lumacap::test
