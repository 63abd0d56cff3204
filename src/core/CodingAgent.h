#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumacap {

// How an agent's live process is told apart from others, and what its
// identity records as the executable (liveness compares pid, that and the
// start time).
enum class ProcessMatch {
  claude,      // the command "claude", "claude-…", or a versioned native install; the command is recorded
  command,     // a native binary known by its command or its file's name; the command is recorded
  executable,  // a native binary known by its file's name only (its command names a thread); that name is
               // recorded
  script,      // `node SCRIPT …`; the script is recorded
  python,      // a Python program: its command (a console script) or `python SCRIPT` / `python -m MODULE`;
               // the command, else the script or module, is recorded
};

// How the hooks file holds one event's hooks.
enum class HookShape {
  claude,   // [{"hooks": [{"type": "command", "command": …, "timeout": seconds}]}]
  gemini,   // [{"matcher": "*", "hooks": [{"type": "command", "command": …, "name": …, "timeout": ms}]}]
  copilot,  // [{"type": "command", "bash": …, "timeoutSec": seconds}]
};

// What the text staged for a session looks like.
enum class StagingStyle {
  sentence,   // "Please inspect the local screenshot at "…"." then the message
  pathAlone,  // the path alone on its line (a paste that is one path attaches the image), then the message
  mentionedPath,  // "@path" then the message
};

// How the agent's configuration names an MCP server it starts.
enum class McpEntryStyle {
  claude,   // JSON "mcpServers": {"type": "stdio", "command": …, "args": […], "env": {}}
  gemini,   // JSON "mcpServers": {"command": …, "args": […]}
  copilot,  // JSON "mcpServers": {"type": "local", "command": …, "args": […], "tools": ["*"]}
  codex,    // TOML [mcp_servers.NAME] with command = … and args = […]
};

// What an event of the agent means to a session.
enum class HookEventRole { start, end, activity };

// One coding agent that Lumacap hands captures to: everything that differs
// from one agent to another, as data. Claude Code is one of them.
struct CodingAgent {
  std::string_view key;   // "claude", "codex", …: `--agent-hook=KEY`, `--install-hooks=KEY`, session files
  std::string_view name;  // "Claude Code": messages
  std::string_view menuName;  // "Claude Code", "Codex": the destination menu
  ProcessMatch match;
  std::vector<std::string_view> processNames;  // commands, executable or script file names
  std::string_view packagePath;  // a script under this folder is the agent's too ("/@google/gemini-cli/")
  // The hooks file: $configVariable/FILE when set (for homeVariable: that
  // folder/configFolder/FILE), else ~/configFolder/FILE.
  std::string_view configVariable;
  bool homeVariable;
  std::string_view configFolder;
  std::string_view hooksFile;
  HookShape shape;
  int timeout;                                                     // in the unit of the shape
  std::vector<std::pair<std::string_view, HookEventRole>> events;  // in the order the installer edits them
  // The record's keys.
  std::string_view sessionKey;
  std::string_view eventKey;  // empty: the event is named in the hook's command
  std::string_view transcriptKey;
  StagingStyle staging;
  // Where the hooks must be reviewed before they run (Codex trusts only what
  // the user trusted); empty when they run once installed.
  std::string_view reviewHint;
  // A settings key (dotted) listing folders the agent may read beyond its
  // workspace: installing adds Lumacap's capture folder there.
  std::string_view readableFoldersKey;
  // The file that lists the agent's MCP servers: in the same folder as the
  // hooks file, or (mcpFileInHome) in the home folder unless the agent's
  // variable names a folder.
  std::string_view mcpFile;
  bool mcpFileInHome;
  McpEntryStyle mcpStyle;

  bool operator==(const CodingAgent& other) const { return key == other.key; }

  static const CodingAgent& claude();
  // The agents whose hooks Lumacap installs.
  static const std::vector<const CodingAgent*>& all();
  // Every agent Lumacap recognises from its process: those of all(), then
  // the agents without hooks (found only from their processes).
  static const std::vector<const CodingAgent*>& recognisable();
  // The agent with hooks that has that key; nothing for an unknown one.
  static const CodingAgent* find(std::string_view key);
  // Any recognisable agent with that key.
  static const CodingAgent* findAny(std::string_view key);

  bool hasHooks() const { return !hooksFile.empty(); }

  // Whether a process is this agent, by its command (/proc/PID/stat), the
  // path of its executable and its arguments (each where known).
  bool recognises(std::string_view command, std::string_view executable,
                  const std::vector<std::string>& arguments) const;
  // What the process's identity records as its executable: the command, the
  // executable's file name or the script (see ProcessMatch).
  std::string identityName(std::string_view command, std::string_view executable,
                           const std::vector<std::string>& arguments) const;
  // The role of an event name, nothing for one this agent's hooks do not send.
  std::optional<HookEventRole> roleOf(std::string_view event) const;
  // The shell command that runs `executable` as this agent's hook for `event`
  // (the event only where the record does not name it): the path in single
  // quotes (a quote inside becomes '\'') then the option. Byte-stable: the same
  // path always gives the same line.
  std::string hookCommand(const std::string& executable, std::string_view event) const;
};

// The script a `node` command line runs: its first argument after the
// interpreter's own options.
std::optional<std::string> nodeScript(const std::vector<std::string>& arguments);

}  // namespace lumacap
