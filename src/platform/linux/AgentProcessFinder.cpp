#include "platform/linux/AgentProcessFinder.h"

#include <map>
#include <set>

namespace lumacap {
namespace {

// Remembers what one scan read of each process: every agent's recognition
// asks for the same files again.
class ScannedProcesses final : public ProcessSource {
 public:
  explicit ScannedProcesses(ProcessSource& source) : source_(source) {}

  std::optional<ProcessIdentity> inspect(int32_t pid) override { return probe(pid).identity; }
  std::optional<int32_t> parent(int32_t pid) override { return probe(pid).parent; }
  Probe probe(int32_t pid) override {
    auto [entry, fresh] = probes_.try_emplace(pid);
    if (fresh) entry->second = source_.probe(pid);
    return entry->second;
  }
  std::optional<std::filesystem::path> executablePath(int32_t pid) override {
    auto [entry, fresh] = executables_.try_emplace(pid);
    if (fresh) entry->second = source_.executablePath(pid);
    return entry->second;
  }
  std::optional<std::vector<std::string>> arguments(int32_t pid) override {
    auto [entry, fresh] = arguments_.try_emplace(pid);
    if (fresh) entry->second = source_.arguments(pid);
    return entry->second;
  }

 private:
  ProcessSource& source_;
  std::map<int32_t, Probe> probes_;
  std::map<int32_t, std::optional<std::filesystem::path>> executables_;
  std::map<int32_t, std::optional<std::vector<std::string>>> arguments_;
};

struct AgentMatch {
  const CodingAgent* agent;
  ProcessIdentity identity;
};

}  // namespace

AgentProcessFinder::AgentProcessFinder(ProcessSource& processes, RunningApplicationLookup& terminals,
                                       uint32_t user)
    : processes_(processes), terminals_(terminals), user_(user) {}

std::vector<FoundAgentProcess> AgentProcessFinder::find() {
  ScannedProcesses scanned(processes_);
  std::map<int32_t, AgentMatch> matches;
  for (const int32_t pid : processes_.processIDs(maximumProcesses)) {
    if (processes_.owner(pid) != user_) continue;
    const std::optional<ProcessIdentity> identity = scanned.inspect(pid);
    if (!identity) continue;
    for (const CodingAgent* agent : CodingAgent::recognisable()) {
      ProcessSource::AgentProbe probe = scanned.probeAgent(pid, *agent, identity);
      if (probe.isAgent && probe.identity) {
        matches.emplace(pid, AgentMatch{agent, std::move(*probe.identity)});
        break;
      }
    }
  }

  std::vector<FoundAgentProcess> found;
  std::set<int32_t> launchers;  // agent processes with one of the same agent below them
  for (const auto& [pid, match] : matches) {
    std::vector<int32_t> lineage{pid};
    std::optional<RunningApplication> terminal;
    bool startedByAnotherAgent = false;
    std::optional<int32_t> current = scanned.parent(pid);
    for (int step = 0; current && *current >= 2 && step < maximumAncestors; ++step) {
      if (const auto above = matches.find(*current); above != matches.end()) {
        startedByAnotherAgent = above->second.agent != match.agent;
        if (startedByAnotherAgent) break;
        lineage.push_back(*current);
      }
      terminal = terminals_.application(*current);
      if (terminal && terminal->bundleIdentifier) break;
      terminal.reset();
      current = scanned.parent(*current);
    }
    if (startedByAnotherAgent || !terminal) continue;
    const std::optional<std::filesystem::path> folder = processes_.workingFolder(pid);
    if (!folder) continue;
    launchers.insert(lineage.begin() + 1, lineage.end());
    found.push_back(FoundAgentProcess{AgentSession{.id = "process:" + std::to_string(pid),
                                                   .cwd = folder->string(),
                                                   .process = match.identity,
                                                   .hostBundleID = terminal->bundleIdentifier,
                                                   .hostPID = terminal->pid,
                                                   .updatedAt = Date{},
                                                   .transcriptPath = std::nullopt,
                                                   .agent = std::string(match.agent->key)},
                                      std::move(lineage)});
  }
  std::erase_if(
      found, [&](const FoundAgentProcess& agent) { return launchers.contains(agent.session.process.pid); });
  return found;
}

}  // namespace lumacap
