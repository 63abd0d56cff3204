#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumacap::test {

struct ProcessResult {
  int exitStatus = -1;  // -1 when it did not exit normally
  std::string standardOutput;
  std::string standardError;
};

// Runs a program to its end, feeding `input` on standard input. `environment`
// entries are added to (or replace those of) the test's environment.
ProcessResult runProcess(const std::vector<std::string>& arguments, const std::string& input = {},
                         const std::map<std::string, std::string>& environment = {});

// A program running in the background, killed (SIGTERM, then SIGKILL) and
// reaped when the object goes.
class BackgroundProcess {
 private:
  BackgroundProcess() = default;

 public:
  BackgroundProcess(const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment = {});
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // Takes charge of a process that was started elsewhere.
  static BackgroundProcess adopt(pid_t pid);
  BackgroundProcess(BackgroundProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}

  pid_t pid() const { return pid_; }
  bool running();
  void stop();

 private:
  pid_t pid_ = -1;
};

// Polls `condition` until it holds or `timeout` passes; returns its last value.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The path of the built `lumacap` executable (from $LUMACAP_BINARY).
std::string lumacapBinary();

}  // namespace lumacap::test
