#include "platform/linux/PsSource.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>

#include "core/Unicode.h"

namespace lumacap {
namespace {

bool isWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string trimmed(std::string_view text) {
  while (!text.empty() && isWhiteSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isWhiteSpace(text.back())) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

PsSource::PsSource(std::string program) : program_(std::move(program)) {}

std::optional<std::string> PsSource::runPS(const std::vector<std::string>& arguments) const {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return std::nullopt;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program_.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  char localeVariable[] = "LC_ALL=C";
  char pathVariable[] = "PATH=/usr/bin:/bin";
  char* environment[] = {localeVariable, pathVariable, nullptr};

  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, program_.c_str(), &actions, nullptr, argv.data(), environment);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (spawned != 0) {
    ::close(pipeEnds[0]);
    return std::nullopt;
  }

  std::string output;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    output.append(buffer, static_cast<size_t>(got));
  }
  ::close(pipeEnds[0]);

  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  if (!unicode::isValidUtf8(output)) return std::nullopt;
  return trimmed(output);
}

std::optional<std::string> PsSource::column(int32_t pid, const char* name) const {
  return runPS({"-p", std::to_string(pid), "-o", name});
}

std::optional<ProcessIdentity> PsSource::inspect(int32_t pid) {
  if (pid < 2) return std::nullopt;
  const auto command = column(pid, "comm=");
  if (!command) return std::nullopt;
  const auto started = column(pid, "lstart=");
  if (!started || command->empty() || started->empty()) return std::nullopt;
  return ProcessIdentity{pid, *command, *started};
}

std::optional<int32_t> PsSource::parent(int32_t pid) {
  const auto output = column(pid, "ppid=");
  if (!output || output->empty()) return std::nullopt;
  return parseProcessID(*output);
}

std::optional<int32_t> PsSource::parseProcessID(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  int64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace lumacap
