// Times one hook run (SessionStart from an agent four processes up, session
// file written) as the whole `lumacap --claude-hook` process (on X11 and in a
// Wayland session), and the same ancestor walk with the /bin/ps lister, side
// by side; and the processor time of reading a 900 KB record written in
// 1,000-byte pieces against the same record written at once (a reader that
// looked at everything again at each pause would cost seconds).
//
//   build/bin/hook_bench [runs]
//
// The program first re-runs itself under the processes of every agent (the
// nearest first: Copilot CLI's native binary, Gemini CLI's node script,
// Codex's binary, then Claude Code), so each agent's hook
// (--agent-hook=AGENT) finds its agent where it would be, and the hook
// process is timed for each.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/cli/HookHandler.h"
#include "platform/linux/PsSource.h"
#include "platform/x11/XcbWindowList.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* const record =
    R"({"session_id":"bench-session","cwd":"/work/webapp","hook_event_name":"SessionStart"})";

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int reExecUnderAgent(int argc, char** argv) {
  const fs::path folder = fs::temp_directory_path() / ("lumacap-hook-bench-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const auto at = [&](const char* name) { return "'" + (folder / name).string() + "'"; };
  fs::create_symlink("/bin/sh", folder / "claude");
  // Copies: /proc/PID/exe names the file itself, as for the native binaries.
  fs::copy_file("/bin/sh", folder / "codex");
  fs::copy_file("/bin/sh", folder / "copilot");
  std::string command = "LUMACAP_BENCH_CHAINED=1 '" + fs::canonical("/proc/self/exe").string() + "'";
  for (int i = 1; i < argc; ++i) command += std::string(" '") + argv[i] + "'";
  // claude → codex → node gemini → sh → copilot → this benchmark → hook ("; true" keeps each shell).
  std::ofstream(folder / "gemini") << "require('child_process').spawnSync('/bin/sh', [process.argv[2]], "
                                       "{stdio: 'inherit'});\n";
  std::ofstream(folder / "inner.sh") << command << "; true\n";
  std::ofstream(folder / "copilot.sh") << at("copilot") << " " << at("inner.sh") << "; true\n";
  std::ofstream(folder / "gemini.sh") << "node " << at("gemini") << " " << at("copilot.sh") << "; true\n";
  std::ofstream(folder / "codex.sh") << at("codex") << " " << at("gemini.sh") << "; true\n";
  const int status = std::system((at("claude") + " " + at("codex.sh")).c_str());
  fs::remove_all(folder);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

double runProcess(const std::string& binary, const char* option, const fs::path& input) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(binary.c_str()), const_cast<char*>(option), nullptr};
  const auto start = Clock::now();
  pid_t pid = 0;
  if (::posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ) != 0) std::exit(1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  const auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  return elapsed;
}

// The /bin/ps lister, seen from a hook process that would be this benchmark's
// child, so that both walks examine the same processes.
class PsFromChild final : public lumacap::ProcessSource {
 public:
  static constexpr int32_t hook = INT32_MAX;
  std::optional<lumacap::ProcessIdentity> inspect(int32_t pid) override { return ps_.inspect(pid); }
  std::optional<int32_t> parent(int32_t pid) override {
    return pid == hook ? std::optional(static_cast<int32_t>(::getpid())) : ps_.parent(pid);
  }

 private:
  lumacap::PsSource ps_;
};

double runPsWalk(const fs::path& data) {
  const auto start = Clock::now();
  PsFromChild processes;
  lumacap::XcbWindowList windows;
  lumacap::HookHandler handler({.processes = processes,
                                .applications = windows,
                                .sessions = lumacap::SessionRepository(data / "Lumacap"),
                                .hookPid = PsFromChild::hook});
  handler.handle(lumacap::HookInput::decode(record));
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double threadMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The reader's processor time for a 900 KB record written in `pieces` pieces.
double readingMilliseconds(int pieces) {
  int ends[2];
  if (::pipe(ends) != 0) std::exit(1);
  const std::string head = R"({"session_id":"a","cwd":"/","hook_event_name":"Stop","pad":")";
  std::thread writer([&] {
    (void)!::write(ends[1], head.data(), head.size());
    const std::string piece(900000 / pieces, 'x');
    for (int i = 0; i < pieces; ++i) {
      for (size_t written = 0; written < piece.size();) {
        const ssize_t now = ::write(ends[1], piece.data() + written, piece.size() - written);
        if (now <= 0) std::exit(1);
        written += static_cast<size_t>(now);
      }
      if (pieces > 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    (void)!::write(ends[1], "\"}", 2);
    ::close(ends[1]);
  });
  const double start = threadMilliseconds();
  const std::string read = lumacap::HookHandler::readRecord(ends[0]);
  const double spent = threadMilliseconds() - start;
  writer.join();
  ::close(ends[0]);
  if (read.size() != head.size() + 900002) std::exit(1);
  return spent;
}

// Each other agent's hook process, in that agent's record, beside Claude Code's.
bool agentHooks(const std::string& binary, const fs::path& data, int runs) {
  const fs::path input = data / "agent-record.json";
  for (const auto& [agent, option, text, executable] :
       {std::tuple{"codex", "--agent-hook=codex", record, "codex"},
        std::tuple{"gemini", "--agent-hook=gemini", record, "gemini"},
        std::tuple{"copilot", "--agent-hook=copilot:sessionStart",
                   R"({"sessionId":"bench-session","timestamp":1,"cwd":"/work/webapp","source":"new"})",
                   "copilot"}}) {
    std::ofstream(input) << text;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) times.push_back(runProcess(binary, option, input));
    const auto written = lumacap::AgentSession::fromJson([&] {
      std::ifstream file(lumacap::SessionRepository(data / "Lumacap").file("bench-session"));
      return std::string(std::istreambuf_iterator<char>(file), {});
    }());
    if (!written || written->agent != agent || !written->process.executable.ends_with(executable)) {
      std::fprintf(stderr, "hook_bench: the %s hook did not record its agent\n", agent);
      return false;
    }
    std::printf("%s hook process (/proc), median of %d: %.2f ms\n", agent, runs, median(times));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("LUMACAP_BENCH_CHAINED")) return reExecUnderAgent(argc, argv);
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  const fs::path data = fs::temp_directory_path() / ("lumacap-hook-bench-data-" + std::to_string(::getpid()));
  fs::create_directories(data);
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  const fs::path input = data / "record.json";
  std::ofstream(input) << record;
  const std::string binary = LUMACAP_BINARY;

  std::vector<double> hook, wayland, ps, help, empty;
  for (int i = 0; i < runs; ++i) {
    empty.push_back(runProcess("/bin/true", "--claude-hook", input));
    help.push_back(runProcess(binary, "--help", input));
    hook.push_back(runProcess(binary, "--claude-hook", input));
    // In a Wayland session the host is the nearest terminal ancestor, found by name.
    ::setenv("WAYLAND_DISPLAY", "wayland-bench", 1);
    wayland.push_back(runProcess(binary, "--claude-hook", input));
    ::unsetenv("WAYLAND_DISPLAY");
    ps.push_back(runPsWalk(data));
  }
  const auto written = lumacap::AgentSession::fromJson([&] {
    std::ifstream file(lumacap::SessionRepository(data / "Lumacap").file("bench-session"));
    return std::string(std::istreambuf_iterator<char>(file), {});
  }());
  if (!written || written->process.executable != "claude") {
    std::fprintf(stderr, "hook_bench: the hook did not record the claude ancestor\n");
    return 1;
  }
  const double hookMedian = median(hook);
  const double psMedian = median(ps);
  std::printf("for scale: /bin/true %.2f ms, lumacap --help %.2f ms (process start and exit)\n",
              median(empty), median(help));
  std::printf("hook process (/proc), median of %d: %.2f ms\n", runs, hookMedian);
  std::printf("hook process in a Wayland session (terminal ancestor by name), median of %d: %.2f ms\n", runs,
              median(wayland));
  std::printf("same walk with /bin/ps, median of %d: %.2f ms\n", runs, psMedian);
  std::printf("ratio (/bin/ps ÷ hook process): %.1f×\n", psMedian / hookMedian);
  if (!agentHooks(binary, data, runs)) return 1;
  fs::remove_all(data);

  std::vector<double> slow, atOnce;
  for (int i = 0; i < 9; ++i) {
    slow.push_back(readingMilliseconds(900));
    atOnce.push_back(readingMilliseconds(1));
  }
  std::printf(
      "reading a 900 KB record, processor time, median of 9: in 1,000-byte pieces %.2f ms, "
      "at once %.2f ms (×%.1f)\n",
      median(slow), median(atOnce), median(slow) / median(atOnce));
  return 0;
}
