#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/CodingAgent.h"

namespace lumacap {

// The entry for `lumacap mcp` in an agent's list of MCP servers, as a pure
// transformation of that file's bytes: JSON ("mcpServers") for Claude Code,
// Gemini CLI, Copilot CLI and Qwen Code, TOML ([mcp_servers.lumacap]) for
// Codex.
class McpConfiguration {
 public:
  // The name the server is listed under.
  static constexpr std::string_view serverName = "lumacap";

  // The file's new bytes with the server entry running `executable` added
  // (install; an entry of that name is replaced where it stands) or taken
  // out; nothing when the file already is that way. `existing` is absent when
  // there is no file. Everything else in the file keeps its value and place:
  // a JSON file is written back in the layout HookConfiguration writes (an
  // "mcpServers" a removal leaves empty is taken out); a TOML file keeps
  // every byte outside the server's own table, which is appended at its end,
  // so that installing then removing gives back the file. Throws FileError
  // naming the agent's file for text that is not JSON or TOML, for a shape
  // it cannot edit (a TOML file defining the server other than as its own
  // table), and HookCommandError for a path that is not UTF-8.
  static std::optional<std::string> merging(const std::optional<std::string>& existing,
                                            const std::string& executable, bool install,
                                            const CodingAgent& agent);
};

}  // namespace lumacap
