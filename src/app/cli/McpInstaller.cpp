#include "app/cli/McpInstaller.h"

#include "core/AtomicFile.h"
#include "core/McpConfiguration.h"

namespace fs = std::filesystem;

namespace lumacap {

fs::path McpInstaller::configFile() const { return agentFile(agent_, agent_.mcpFile, agent_.mcpFileInHome); }

bool McpInstaller::installed(const fs::path& executable) const {
  const fs::path file = configFile();
  try {
    const std::optional<FileSnapshot> current = readRegularFile(file, size_t{64} << 20);
    return current && !McpConfiguration::merging(current->bytes, executable.native(), true, agent_);
  } catch (const FileError& failure) {
    throw FileError(file, failure.problem());
  }
}

HookStatus McpInstaller::status(const fs::path& executable) const {
  HookStatus status;
  try {
    status.settingsFile = configFile();
    status.installed = installed(executable);
  } catch (const std::exception&) {
  }
  return status;
}

std::string McpInstaller::configure(bool install, const fs::path& executable) const {
  const fs::path file = configFile();
  const std::string name(agent_.name);
  std::error_code error;
  if (!install && !fs::exists(file.parent_path(), error))
    return "Lumacap’s MCP server is not in " + name + "’s configuration.";
  const SettingsEdit edit = editSettingsFile(file, [&](const std::optional<std::string>& current) {
    return McpConfiguration::merging(current, executable.native(), install, agent_);
  });
  if (edit == SettingsEdit::unchanged) {
    return install ? "Lumacap’s MCP server is already in " + name + "’s configuration."
                   : "Lumacap’s MCP server is not in " + name + "’s configuration.";
  }
  std::string message = install ? "Lumacap’s MCP server added to " + file.string() + ". Restart your " +
                                      name + " sessions to use it."
                                : "Lumacap’s MCP server removed from " + file.string() + ". Restart your " +
                                      name + " sessions to apply.";
  return edit == SettingsEdit::writtenOverExisting ? message + " The previous file was backed up." : message;
}

AgentSetupStatus agentSetupStatus(const CodingAgent& agent, const fs::path& executable) {
  AgentSetupStatus status{.found = false,
                          .hooks = HookInstaller(agent).status(executable),
                          .mcp = McpInstaller(agent).status(executable)};
  std::error_code error;
  status.found = status.hooks.installed.value_or(true) || status.mcp.installed.value_or(true) ||
                 (!status.hooks.settingsFile.empty() &&
                  fs::is_directory(status.hooks.settingsFile.parent_path(), error));
  return status;
}

std::string configureAgent(const CodingAgent& agent, AgentSetupPart part, bool install,
                           const fs::path& executable) {
  return part == AgentSetupPart::mcp ? McpInstaller(agent).configure(install, executable)
                                     : HookInstaller(agent).configure(install, executable);
}

}  // namespace lumacap
