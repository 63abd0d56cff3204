#pragma once

#include <filesystem>
#include <string>

#include "app/cli/HookInstaller.h"
#include "core/CodingAgent.h"

namespace lumacap {

// Adds `lumacap mcp` to one agent's MCP servers, or takes it out, with the
// hook installer's guarantees (editSettingsFile).
class McpInstaller {
 public:
  explicit McpInstaller(const CodingAgent& agent) : agent_(agent) {}

  // Adds (install) or removes the server; returns the message to show;
  // throws on failure, naming the file.
  std::string configure(bool install, const std::filesystem::path& executable) const;

  // The file configure() edits (~/.claude.json, ~/.codex/config.toml, …).
  std::filesystem::path configFile() const;
  // Whether that file lists the server running `executable` as an install
  // leaves it. Throws when it cannot be read.
  bool installed(const std::filesystem::path& executable) const;
  // Both of the above, without throwing.
  HookStatus status(const std::filesystem::path& executable) const;

 private:
  const CodingAgent& agent_;
};

// What Settings shows of one agent: whether it is on this computer (its
// configuration folder exists, or Lumacap is in it), its hooks and its MCP
// server.
struct AgentSetupStatus {
  bool found = false;
  HookStatus hooks;
  HookStatus mcp;
};
enum class AgentSetupPart { hooks, mcp };

// Reads it, without throwing: the files' reads may block, so never on the GUI thread.
AgentSetupStatus agentSetupStatus(const CodingAgent& agent, const std::filesystem::path& executable);
// Installs or removes the agent's hooks or MCP server; the message to show;
// throws on failure.
std::string configureAgent(const CodingAgent& agent, AgentSetupPart part, bool install,
                           const std::filesystem::path& executable);

}  // namespace lumacap
