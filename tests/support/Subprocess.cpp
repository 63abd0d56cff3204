#include "support/Subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace lumacap::test {
namespace {

// Process groups of the children still running; read by the signal handler,
// so a fixed array of atomics rather than a container.
std::array<std::atomic<pid_t>, 256> recordedGroups{};

void record(pid_t pid) {
  for (auto& slot : recordedGroups) {
    pid_t empty = 0;
    if (slot.compare_exchange_strong(empty, pid)) return;
  }
}

void forget(pid_t pid) {
  for (auto& slot : recordedGroups) {
    pid_t expected = pid;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

void endRecordedGroups(int signal) {
  for (auto& slot : recordedGroups) {
    if (const pid_t pid = slot.load(); pid > 0) ::kill(-pid, SIGKILL);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// In a fresh child: its own group, killed when its parent dies, even if the
// parent died before the request took effect.
void becomeGuardedChild(pid_t parent) {
  ::setpgid(0, 0);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(126);
  ::signal(SIGPIPE, SIG_DFL);
}

pid_t startGuardedChild() {
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    becomeGuardedChild(parent);
    return 0;
  }
  ::setpgid(pid, pid);  // also here, so that the group exists before anyone signals it
  record(pid);
  return pid;
}

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const size_t equals = text.find('=');
    if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [key, value] : extra) merged[key] = value;
  std::vector<std::string> result;
  for (const auto& [key, value] : merged) result.push_back(key + "=" + value);
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& text : strings) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// Starts a program with standard input, output and error on the given
// descriptors (-1: /dev/null). Returns once the program runs: a pipe that
// closes on exec tells the parent when, or why it could not start.
pid_t spawn(std::vector<std::string> arguments, const std::map<std::string, std::string>& environment,
            std::array<int, 3> descriptors) {
  std::vector<std::string> variables = mergedEnvironment(environment);
  const auto argv = pointers(arguments);
  const auto envp = pointers(variables);
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  int started[2];
  if (::pipe2(started, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = startGuardedChild();
  if (pid == 0) {
    for (int target = 0; target < 3; ++target) {
      ::dup2(descriptors[target] >= 0 ? descriptors[target] : null, target);
    }
    ::execvpe(argv[0], argv.data(), envp.data());
    const int error = errno;
    if (::write(started[1], &error, sizeof error) < 0) ::_exit(127);
    ::_exit(127);
  }
  ::close(null);
  ::close(started[1]);
  int error = 0;
  ssize_t got;
  while ((got = ::read(started[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(started[0]);
  if (got > 0) {
    ::waitpid(pid, nullptr, 0);
    forget(pid);
    throw std::runtime_error("cannot start " + arguments.front() + ": " + std::strerror(error));
  }
  return pid;
}

void killAndReap(pid_t pid) {
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  forget(pid);
}

// The whole content of a memory file written by a child.
std::string contentOf(int fd) {
  std::string content;
  char buffer[65536];
  for (ssize_t got; (got = ::pread(fd, buffer, sizeof buffer, off_t(content.size()))) > 0;) {
    content.append(buffer, size_t(got));
  }
  return content;
}

ChildEnd endOf(int status) {
  if (WIFEXITED(status)) return {WEXITSTATUS(status), 0};
  return {-1, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

}  // namespace

void killRecordedGroupsOnSignals() {
  struct sigaction action {};
  action.sa_handler = endRecordedGroups;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

pid_t forkChild(const std::function<int()>& body) {
  const pid_t pid = startGuardedChild();
  if (pid == 0) {
    int status = 127;
    try {
      status = body();
    } catch (...) {
    }
    ::_exit(status);
  }
  return pid;
}

ChildEnd waitForChild(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      forget(pid);
      return endOf(status);
    }
    if (done < 0 && errno != EINTR) return {-1, 0};
    if (std::chrono::steady_clock::now() > deadline) {
      killAndReap(pid);
      return {-2, SIGKILL};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

ChildEnd runInChild(const std::function<int()>& body, std::chrono::milliseconds timeout) {
  return waitForChild(forkChild(body), timeout);
}

ProcessResult runProcess(const std::vector<std::string>& arguments, const std::string& input,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::milliseconds timeout) {
  // Output goes to memory files rather than pipes: a grandchild that keeps
  // them open cannot hold the test up.
  const int out = ::memfd_create("stdout", MFD_CLOEXEC), err = ::memfd_create("stderr", MFD_CLOEXEC);
  int in[2];
  if (out < 0 || err < 0 || ::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("no pipe or memory file");
  ::signal(SIGPIPE, SIG_IGN);
  const pid_t pid = spawn(arguments, environment, {in[0], out, err});
  ::close(in[0]);
  std::thread writer([fd = in[1], &input] {
    for (size_t done = 0; done < input.size();) {
      const ssize_t wrote = ::write(fd, input.data() + done, input.size() - done);
      if (wrote <= 0) break;
      done += size_t(wrote);
    }
    ::close(fd);
  });
  const ChildEnd end = waitForChild(pid, timeout);
  writer.join();
  ProcessResult result{end.exitStatus, contentOf(out), contentOf(err)};
  ::close(out);
  ::close(err);
  if (end.exitStatus == -2) throw std::runtime_error(arguments.front() + " did not finish in time");
  return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& arguments,
                                     const std::map<std::string, std::string>& environment, int output) {
  pid_ = spawn(arguments, environment, {-1, output, -1});
}

BackgroundProcess::~BackgroundProcess() { stop(); }

bool BackgroundProcess::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    forget(std::exchange(pid_, -1));
    return false;
  }
  return true;
}

void BackgroundProcess::stop() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGTERM);
  ::kill(pid_, SIGTERM);
  if (waitUntil([this] { return !running(); }, 2s)) return;
  killAndReap(std::exchange(pid_, -1));
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string lumacapBinary() {
  const char* path = std::getenv("LUMACAP_BINARY");
  if (!path || !*path) throw std::runtime_error("LUMACAP_BINARY is not set");
  return path;
}

}  // namespace lumacap::test
