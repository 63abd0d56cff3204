#include "platform/ProcessSource.h"

#include "platform/linux/ProcSource.h"
#include "platform/linux/PsSource.h"

namespace lumacap {

ProcessSource& ProcessSource::system() {
  static ProcSource proc;
  static PsSource ps;
  static ProcessSource& chosen =
      ProcSource::available() ? static_cast<ProcessSource&>(proc) : static_cast<ProcessSource&>(ps);
  return chosen;
}

// Reads the executable's path and the arguments only where the agent's
// recognition needs them: the hook probes every ancestor this way.
ProcessSource::AgentProbe ProcessSource::probeAgent(int32_t pid, const CodingAgent& agent,
                                                    std::optional<ProcessIdentity> known) {
  AgentProbe probe{known ? std::move(known) : inspect(pid), false};
  if (!probe.identity) return probe;
  const std::string& command = probe.identity->executable;
  std::string executable;
  std::vector<std::string> argumentList;
  if (agent.match == ProcessMatch::script) {
    if (command != "node") return probe;
    argumentList = arguments(pid).value_or(std::vector<std::string>{});
  } else if (agent.match == ProcessMatch::python) {
    if (!command.starts_with("python")) return {probe.identity, agent.recognises(command, {}, {})};
    argumentList = arguments(pid).value_or(std::vector<std::string>{});
  } else if (agent.match == ProcessMatch::executable || !agent.recognises(command, {}, {})) {
    if (const auto path = executablePath(pid)) executable = path->string();
  }
  probe.isAgent = agent.recognises(command, executable, argumentList);
  if (probe.isAgent) probe.identity->executable = agent.identityName(command, executable, argumentList);
  return probe;
}

}  // namespace lumacap
