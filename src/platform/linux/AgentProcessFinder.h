#pragma once

#include <cstdint>
#include <vector>

#include "core/AgentSession.h"
#include "platform/ProcessSource.h"
#include "platform/RunningApplicationLookup.h"

namespace lumacap {

// A coding agent's session found from its process rather than from a hook.
struct FoundAgentProcess {
  // Id "process:PID", the agent's process, its working folder and terminal;
  // no transcript.
  AgentSession session;
  // The session's process and the processes of the same agent above it in
  // its terminal (a launcher, a relaunched parent): a hook of the session
  // may have recorded any of them.
  std::vector<int32_t> lineage;

  bool operator==(const FoundAgentProcess&) const = default;
};

// Finds running coding agents in the process table: a process one of the
// recognisable agents recognises, of this user, with a terminal (a desktop
// application) among its ancestors. One agent process started by another
// agent is a tool of that one and is passed over. Bounded: reads at most
// maximumProcesses processes (each file read is bounded by the source) and
// walks at most maximumAncestors steps up from each agent.
class AgentProcessFinder {
 public:
  static constexpr size_t maximumProcesses = ProcessSource::listingLimit;
  static constexpr int maximumAncestors = 64;

  AgentProcessFinder(ProcessSource& processes, RunningApplicationLookup& terminals, uint32_t user);

  std::vector<FoundAgentProcess> find();

 private:
  ProcessSource& processes_;
  RunningApplicationLookup& terminals_;
  uint32_t user_;
};

}  // namespace lumacap
