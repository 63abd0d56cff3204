#include "support/Subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Forks a child in a group of its own, killed when its parent dies, even if
// the parent died before the request took effect. Returns 0 in the child.
pid_t startGuardedChild() {
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(126);
    ::signal(SIGPIPE, SIG_DFL);
    return 0;
  }
  ::setpgid(pid, pid);  // also here, so that the group exists before anyone signals it
  record(pid);
  return pid;
}

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    if (!extra.contains(text.substr(0, text.find('=')))) merged.push_back(text);
  }
  for (const auto& [key, value] : extra) merged.push_back(key + "=" + value);
  return merged;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& text : strings) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// The whole content of a memory file.
// The command as a shell would show it (for messages).
std::string commandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) line += (line.empty() ? "" : " ") + argument;
  return line;
}

std::string contentOf(int fd) {
  std::string content;
  char buffer[65536];
  for (ssize_t got; (got = ::pread(fd, buffer, sizeof buffer, off_t(content.size()))) > 0;) {
    content.append(buffer, size_t(got));
  }
  return content;
}

}  // namespace

void killRecordedGroupsOnSignals() {
  struct sigaction action {};
  action.sa_handler = endRecordedGroups;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

// Returns once the program runs: a pipe that closes on exec tells the parent
// when, or why it could not start.
BackgroundProcess::BackgroundProcess(const std::vector<std::string>& arguments,
                                     const std::map<std::string, std::string>& environment,
                                     std::array<int, 3> descriptors) {
  std::vector<std::string> argumentTexts = arguments, variables = mergedEnvironment(environment);
  const auto argv = pointers(argumentTexts);
  const auto envp = pointers(variables);
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  int started[2];
  if (::pipe2(started, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = startGuardedChild();
  if (pid_ == 0) {
    for (int target = 0; target < 3; ++target)
      ::dup2(descriptors[target] >= 0 ? descriptors[target] : null, target);
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
    wait();
    throw std::runtime_error("cannot start " + arguments.front() + ": " + std::strerror(error));
  }
}

BackgroundProcess::BackgroundProcess(const std::function<int()>& body) : pid_(startGuardedChild()) {
  if (pid_ != 0) return;
  int status = 127;
  try {
    status = body();
  } catch (...) {
  }
  ::_exit(status);
}

bool BackgroundProcess::running() {
  if (reaped_) return false;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == 0 || (done < 0 && errno == EINTR)) return true;
  reaped_ = true;
  forget(pid_);
  if (WIFEXITED(status)) end_ = {WEXITSTATUS(status), 0};
  if (WIFSIGNALED(status)) end_ = {-1, WTERMSIG(status)};
  return false;
}

ChildEnd BackgroundProcess::wait(std::chrono::milliseconds timeout) {
  if (!waitUntil([this] { return !running(); }, timeout)) {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    forget(pid_);
    end_ = {-2, SIGKILL};
  }
  return end_;
}

void BackgroundProcess::stop() {
  if (!running()) return;
  ::kill(-pid_, SIGTERM);
  ::kill(pid_, SIGTERM);
  wait(2s);
}

ProcessResult runProcess(const std::vector<std::string>& arguments, const std::string& input,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::milliseconds timeout) {
  // Memory files rather than pipes: a grandchild that keeps them open cannot
  // hold the test up.
  const int in = ::memfd_create("stdin", MFD_CLOEXEC), out = ::memfd_create("stdout", MFD_CLOEXEC),
            err = ::memfd_create("stderr", MFD_CLOEXEC);
  if (in < 0 || out < 0 || err < 0 || ::pwrite(in, input.data(), input.size(), 0) != ssize_t(input.size()))
    throw std::runtime_error("no memory file for " + arguments.front());
  const ChildEnd end = BackgroundProcess(arguments, environment, {in, out, err}).wait(timeout);
  ProcessResult result{end.exitStatus, contentOf(out), contentOf(err)};
  for (const int fd : {in, out, err}) ::close(fd);
  if (end.exitStatus == -2) throw std::runtime_error(commandLine(arguments) + " did not finish in time");
  return result;
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
