// Lists destinations from a folder of 200 session files, 100 of them live
// (sessions of `sleep` children started here), once with the /proc source and
// once with the /bin/ps fallback, and prints the medians side by side. Then
// scans /proc for agents without hooks with about 500 processes running
// (children added up to that, ten of them named like an agent).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/agents/AgentIntegration.h"
#include "platform/linux/AgentProcessFinder.h"
#include "platform/linux/ProcSource.h"
#include "platform/linux/PsSource.h"
#include "platform/linux/TerminalAncestorLookup.h"

extern char** environ;

namespace lumacap {
namespace {

constexpr int liveSessions = 100;
constexpr int endedSessions = 100;
constexpr int32_t absentPidBase = 4'190'000;  // beyond the usual pid range

std::vector<pid_t> children;

void startChild(const char* program) {
  const char* argv[] = {program, "3600", nullptr};
  pid_t pid = -1;
  if (::posix_spawnp(&pid, program, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    throw std::runtime_error(std::string("cannot start ") + program);
  }
  children.push_back(pid);
}

void startChildren() {
  for (int i = 0; i < liveSessions; ++i) startChild("sleep");
}

constexpr size_t scannedProcesses = 500;

// Children until /proc lists about 500 processes; ten run a copy of sleep
// named like an agent (with no terminal above them: each walk goes up to init).
void startScannedChildren(const std::filesystem::path& folder) {
  const auto agent = folder / "opencode";
  std::filesystem::copy_file("/bin/sleep", agent);
  for (int i = 0; i < 10; ++i) startChild(agent.c_str());
  for (size_t listed = ProcSource().processIDs(scannedProcesses).size(); listed < scannedProcesses;
       ++listed) {
    startChild("sleep");
  }
}

void stopChildren() {
  for (const pid_t pid : children) ::kill(pid, SIGKILL);
  for (const pid_t pid : children) ::waitpid(pid, nullptr, 0);
  children.clear();
}

// 100 sessions of live children, then 100 ended ones: half whose pid no
// longer exists, half whose pid now runs a process with another start time.
std::filesystem::path writeSessions(const std::filesystem::path& root, ProcessSource& source) {
  const SessionRepository repository(root);
  for (int i = 0; i < liveSessions; ++i) {
    const auto identity = source.inspect(children[static_cast<size_t>(i)]);
    if (!identity) throw std::runtime_error("cannot inspect a child");
    repository.write(AgentSession{"live-" + std::to_string(i), "/work/project-" + std::to_string(i),
                                  *identity, "XTerm", 1000 + i, Date{static_cast<double>(i)}});
  }
  for (int i = 0; i < endedSessions; ++i) {
    ProcessIdentity identity{absentPidBase + i, "claude", "Sat Dec  5 09:41:07 2026"};
    if (i % 2 == 1) identity.pid = children[static_cast<size_t>(i)];
    repository.write(AgentSession{"ended-" + std::to_string(i), "/work/old-" + std::to_string(i), identity,
                                  std::nullopt, std::nullopt, Date{static_cast<double>(i)}});
  }
  return root;
}

struct Folders {
  std::filesystem::path base;
  std::filesystem::path proc;
  std::filesystem::path ps;
};

Folders* folders = nullptr;
ProcSource procSource;
PsSource psSource;

void listDestinations(benchmark::State& state, const std::filesystem::path& root, ProcessSource& source) {
  size_t listed = 0;
  for (auto _ : state) {
    const auto destinations = ClaudeCodeIntegration::readDestinations(root, source);
    listed = destinations.size();
    benchmark::DoNotOptimize(destinations.data());
  }
  state.counters["listed"] = static_cast<double>(listed);
  if (listed != liveSessions) state.SkipWithError("the listing did not find every live session");
}

void BM_Destinations_Proc(benchmark::State& state) { listDestinations(state, folders->proc, procSource); }
void BM_Destinations_Ps(benchmark::State& state) { listDestinations(state, folders->ps, psSource); }

BENCHMARK(BM_Destinations_Proc)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_Destinations_Ps)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_FindAgentProcesses(benchmark::State& state) {
  TerminalAncestorLookup terminals(procSource);
  for (auto _ : state) {
    const auto found = AgentProcessFinder(procSource, terminals, ::getuid()).find();
    benchmark::DoNotOptimize(found.data());
  }
  state.counters["processes"] =
      static_cast<double>(procSource.processIDs(AgentProcessFinder::maximumProcesses).size());
}

BENCHMARK(BM_FindAgentProcesses)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

// Prints as usual and keeps each benchmark's median wall time.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  MedianReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.aggregate_name == "median") medians[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;  // in the benchmark's unit (ms)
};

}  // namespace
}  // namespace lumacap

int main(int argc, char** argv) {
  using namespace lumacap;
  benchmark::Initialize(&argc, argv);
  char pattern[] = "/tmp/lumacap-destinations-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  Folders paths{pattern, std::filesystem::path(pattern) / "proc", std::filesystem::path(pattern) / "ps"};
  folders = &paths;
  int status = 0;
  try {
    startChildren();
    writeSessions(paths.proc, procSource);
    writeSessions(paths.ps, psSource);
    startScannedChildren(paths.base);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double proc = reporter.medians["BM_Destinations_Proc"];
    const double ps = reporter.medians["BM_Destinations_Ps"];
    if (proc > 0 && ps > 0) {
      std::printf(
          "\nListing %d session files (%d live): median %.2f ms with /proc, %.1f ms with /bin/ps; "
          "/bin/ps is %.0f times slower\n",
          liveSessions + endedSessions, liveSessions, proc, ps, ps / proc);
    }
    std::printf("Scanning /proc for agents without hooks among %zu processes: median %.2f ms\n",
                procSource.processIDs(AgentProcessFinder::maximumProcesses).size(),
                reporter.medians["BM_FindAgentProcesses"]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    status = 1;
  }
  stopChildren();
  std::filesystem::remove_all(paths.base);
  benchmark::Shutdown();
  return status;
}
