#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/AgentSession.h"
#include "core/CodingAgent.h"

namespace lumacap {

// Where process identities come from. Every probe within one process uses the
// same source, so that identities recorded and compared always agree.
class ProcessSource {
 public:
  virtual ~ProcessSource() = default;

  // The current identity of a process, or nothing. Ids below 2 yield nothing.
  virtual std::optional<ProcessIdentity> inspect(int32_t pid) = 0;
  // The parent of a process, or nothing.
  virtual std::optional<int32_t> parent(int32_t pid) = 0;
  struct Probe {
    std::optional<ProcessIdentity> identity;
    std::optional<int32_t> parent;
  };
  // Identity and parent together; sources that learn both at once override it.
  virtual Probe probe(int32_t pid) { return {inspect(pid), parent(pid)}; }

  // The absolute path of the process's executable, where the system tells it.
  virtual std::optional<std::filesystem::path> executablePath(int32_t) { return std::nullopt; }
  // The process's arguments, where the system tells them.
  virtual std::optional<std::vector<std::string>> arguments(int32_t) { return std::nullopt; }
  // How many processes a walk of the process table reads at most.
  static constexpr size_t listingLimit = 4096;
  // The ids of running processes, at most `limit` of them, where the system lists them.
  virtual std::vector<int32_t> processIDs(size_t /*limit*/) { return {}; }
  // The real user id the process runs as.
  virtual std::optional<uint32_t> owner(int32_t) { return std::nullopt; }
  // The process's working folder.
  virtual std::optional<std::filesystem::path> workingFolder(int32_t) { return std::nullopt; }

  // The identity of a process as `agent`'s sessions record it (its
  // executable's name or its script in place of the command where the agent
  // says so), with whether it is that agent at all.
  struct AgentProbe {
    std::optional<ProcessIdentity> identity;
    bool isAgent = false;
  };
  AgentProbe probeAgent(int32_t pid, const CodingAgent& agent, std::optional<ProcessIdentity> known = {});

  // /proc where it exists, else /bin/ps; chosen once per process.
  static ProcessSource& system();
};

}  // namespace lumacap
