#include "core/CodingAgent.h"

#include <algorithm>

#include "core/Unicode.h"

namespace lumacap {
namespace {

using EventRole = HookEventRole;

std::string_view baseNameOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A native install of Claude Code runs as "…/claude/versions/2.0.1".
bool isVersionedClaudePath(std::string_view path) {
  if (path.find("/claude/versions/") == std::string_view::npos) return false;
  const std::string_view name = baseNameOf(path);
  return !name.empty() && unicode::isNumber(unicode::decode(name).front());
}

const CodingAgent claudeCodeAgent{
    .key = "claude",
    .name = "Claude Code",
    .menuName = "Claude Code",
    .match = ProcessMatch::claude,
    .processNames = {"claude"},
    .packagePath = {},
    .configVariable = "CLAUDE_CONFIG_DIR",
    .homeVariable = false,
    .configFolder = ".claude",
    .hooksFile = "settings.json",
    .shape = HookShape::claude,
    .timeout = 5,
    .events = {{"SessionStart", EventRole::start},
               {"SessionEnd", EventRole::end},
               {"UserPromptSubmit", EventRole::activity},
               {"Stop", EventRole::activity}},
    .sessionKey = "session_id",
    .eventKey = "hook_event_name",
    .transcriptKey = "transcript_path",
    .staging = StagingStyle::sentence,
    .reviewHint = "Review them in Claude Code’s /hooks menu",
    .readableFoldersKey = {},
    .mcpFile = ".claude.json",
    .mcpFileInHome = true,
    .mcpStyle = McpEntryStyle::claude,
};

// Codex runs its hooks only once the user trusted them in /hooks, keyed to
// a hash of each hook's definition: its command line must never change.
const CodingAgent codexAgent{
    .key = "codex",
    .name = "Codex",
    .menuName = "Codex",
    .match = ProcessMatch::command,
    .processNames = {"codex"},
    .packagePath = {},
    .configVariable = "CODEX_HOME",
    .homeVariable = false,
    .configFolder = ".codex",
    .hooksFile = "hooks.json",
    .shape = HookShape::claude,
    .timeout = 3,  // Codex gives a SessionEnd hook 3 s at most
    .events = {{"SessionStart", EventRole::start},
               {"SessionEnd", EventRole::end},
               {"UserPromptSubmit", EventRole::activity},
               {"Stop", EventRole::activity}},
    .sessionKey = "session_id",
    .eventKey = "hook_event_name",
    .transcriptKey = "transcript_path",
    .staging = StagingStyle::pathAlone,
    .reviewHint = "Trust them in Codex’s /hooks menu (Codex runs no new hook before that)",
    .readableFoldersKey = {},
    .mcpFile = "config.toml",
    .mcpFileInHome = false,
    .mcpStyle = McpEntryStyle::codex,
};

const CodingAgent geminiAgent{
    .key = "gemini",
    .name = "Gemini CLI",
    .menuName = "Gemini",
    .match = ProcessMatch::script,
    .processNames = {"gemini", "gemini.js"},
    .packagePath = "/@google/gemini-cli/",
    .configVariable = "GEMINI_CLI_HOME",
    .homeVariable = true,
    .configFolder = ".gemini",
    .hooksFile = "settings.json",
    .shape = HookShape::gemini,
    .timeout = 5000,
    .events = {{"SessionStart", EventRole::start},
               {"SessionEnd", EventRole::end},
               {"BeforeAgent", EventRole::activity},
               {"AfterAgent", EventRole::activity}},
    .sessionKey = "session_id",
    .eventKey = "hook_event_name",
    .transcriptKey = "transcript_path",
    .staging = StagingStyle::mentionedPath,
    .reviewHint = {},
    .readableFoldersKey = "context.includeDirectories",
    .mcpFile = "settings.json",
    .mcpFileInHome = false,
    .mcpStyle = McpEntryStyle::gemini,
};

const CodingAgent copilotAgent{
    .key = "copilot",
    .name = "Copilot CLI",
    .menuName = "Copilot",
    .match = ProcessMatch::executable,
    .processNames = {"copilot"},
    .packagePath = {},
    .configVariable = "COPILOT_HOME",
    .homeVariable = false,
    .configFolder = ".copilot",
    .hooksFile = "settings.json",
    .shape = HookShape::copilot,
    .timeout = 5,
    .events = {{"sessionStart", EventRole::start},
               {"sessionEnd", EventRole::end},
               {"userPromptSubmitted", EventRole::activity}},
    .sessionKey = "sessionId",
    .eventKey = {},
    .transcriptKey = {},
    .staging = StagingStyle::mentionedPath,
    .reviewHint = {},
    .readableFoldersKey = {},
    .mcpFile = "mcp-config.json",
    .mcpFileInHome = false,
    .mcpStyle = McpEntryStyle::copilot,
};

// Qwen Code (a Gemini CLI fork) as its documentation describes it.
const CodingAgent qwenAgent{
    .key = "qwen",
    .name = "Qwen Code",
    .menuName = "Qwen",
    .match = ProcessMatch::script,
    .processNames = {"qwen"},
    .packagePath = "/@qwen-code/qwen-code/",
    .configVariable = {},
    .homeVariable = false,
    .configFolder = ".qwen",
    .hooksFile = "settings.json",
    .shape = HookShape::gemini,
    .timeout = 5000,
    .events = {{"SessionStart", EventRole::start},
               {"SessionEnd", EventRole::end},
               {"UserPromptSubmit", EventRole::activity},
               {"Stop", EventRole::activity}},
    .sessionKey = "session_id",
    .eventKey = "hook_event_name",
    .transcriptKey = "transcript_path",
    .staging = StagingStyle::mentionedPath,
    .reviewHint = {},
    .readableFoldersKey = "context.includeDirectories",
    .mcpFile = "settings.json",
    .mcpFileInHome = false,
    .mcpStyle = McpEntryStyle::gemini,
};

// Agents without shell hooks: found only from their processes. OpenCode's
// and Amp's npm packages install a native binary as bin/opencode.exe and
// bin/amp.exe (their commands read "opencode" and "amp"); Aider is a Python
// console script; Cursor's CLI runs its bundled node on
// …/cursor-agent/versions/VERSION/index.js.
CodingAgent hooklessAgent(std::string_view key, std::string_view name, ProcessMatch match,
                          std::vector<std::string_view> processNames, std::string_view packagePath,
                          StagingStyle staging) {
  return CodingAgent{.key = key,
                     .name = name,
                     .menuName = name,
                     .match = match,
                     .processNames = std::move(processNames),
                     .packagePath = packagePath,
                     .configVariable = {},
                     .homeVariable = false,
                     .configFolder = {},
                     .hooksFile = {},
                     .shape = HookShape::claude,
                     .timeout = 0,
                     .events = {},
                     .sessionKey = {},
                     .eventKey = {},
                     .transcriptKey = {},
                     .staging = staging,
                     .reviewHint = {},
                     .readableFoldersKey = {},
                     .mcpFile = {},
                     .mcpFileInHome = false,
                     .mcpStyle = McpEntryStyle::claude};
}

const CodingAgent openCodeAgent =
    hooklessAgent("opencode", "OpenCode", ProcessMatch::command, {"opencode", "opencode.exe"}, {},
                  StagingStyle::mentionedPath);
const CodingAgent ampAgent =
    hooklessAgent("amp", "Amp", ProcessMatch::command, {"amp", "amp.exe"}, {}, StagingStyle::mentionedPath);
// Aider's model opens no file by itself: the sentence names the path for the
// user, who adds it with /add.
const CodingAgent aiderAgent =
    hooklessAgent("aider", "Aider", ProcessMatch::python, {"aider"}, {}, StagingStyle::sentence);
const CodingAgent cursorAgent =
    hooklessAgent("cursor-agent", "Cursor", ProcessMatch::script, {"cursor-agent"}, "/cursor-agent/",
                  StagingStyle::mentionedPath);

bool isPython(std::string_view name) {
  return name.starts_with("python") && name.find_first_not_of("python0123456789.") == std::string_view::npos;
}

// The program a `python` command line runs: the module after -m, or the
// script's file name (the first argument after the interpreter's options).
std::optional<std::string> pythonProgram(const std::vector<std::string>& arguments) {
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "-m") {
      if (i + 1 < arguments.size()) return arguments[i + 1];
      return std::nullopt;
    }
    if (arguments[i].starts_with("-m")) return arguments[i].substr(2);
    if (!arguments[i].starts_with('-')) return std::string(baseNameOf(arguments[i]));
  }
  return std::nullopt;
}

}  // namespace

const CodingAgent& CodingAgent::claude() { return claudeCodeAgent; }

const std::vector<const CodingAgent*>& CodingAgent::all() {
  static const std::vector<const CodingAgent*> agents = {&claudeCodeAgent, &codexAgent, &geminiAgent,
                                                         &copilotAgent, &qwenAgent};
  return agents;
}

const std::vector<const CodingAgent*>& CodingAgent::recognisable() {
  static const std::vector<const CodingAgent*> agents = [] {
    std::vector<const CodingAgent*> list = all();
    list.insert(list.end(), {&openCodeAgent, &ampAgent, &aiderAgent, &cursorAgent});
    return list;
  }();
  return agents;
}

const CodingAgent* CodingAgent::find(std::string_view key) {
  for (const CodingAgent* agent : all()) {
    if (agent->key == key) return agent;
  }
  return nullptr;
}

const CodingAgent* CodingAgent::findAny(std::string_view key) {
  for (const CodingAgent* agent : recognisable()) {
    if (agent->key == key) return agent;
  }
  return nullptr;
}

std::optional<std::string> nodeScript(const std::vector<std::string>& arguments) {
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (!arguments[i].starts_with('-')) return arguments[i];
  }
  return std::nullopt;
}

bool CodingAgent::recognises(std::string_view command, std::string_view executable,
                             const std::vector<std::string>& arguments) const {
  const auto named = [this](std::string_view name) {
    return std::find(processNames.begin(), processNames.end(), name) != processNames.end();
  };
  switch (match) {
    case ProcessMatch::claude: {
      const std::string lowered = unicode::lowercased(std::string(baseNameOf(command)));
      // /proc names a process by its first 15 bytes only; a versioned native
      // install shows in its executable's path.
      return lowered == "claude" || lowered.starts_with("claude-") || isVersionedClaudePath(command) ||
             isVersionedClaudePath(executable);
    }
    case ProcessMatch::command:
      return named(command) || named(baseNameOf(executable));
    case ProcessMatch::executable:
      return named(baseNameOf(executable));
    case ProcessMatch::script: {
      if (baseNameOf(command) != "node" && baseNameOf(executable) != "node") return false;
      const std::optional<std::string> script = nodeScript(arguments);
      if (!script) return false;
      if (named(baseNameOf(*script))) return true;
      return !packagePath.empty() && script->find(packagePath) != std::string::npos;
    }
    case ProcessMatch::python: {
      if (named(command)) return true;
      if (!isPython(command) && !isPython(baseNameOf(executable))) return false;
      const std::optional<std::string> program = pythonProgram(arguments);
      return program && named(*program);
    }
  }
  return false;
}

std::string CodingAgent::identityName(std::string_view command, std::string_view executable,
                                      const std::vector<std::string>& arguments) const {
  if (match == ProcessMatch::executable) {
    // After an upgrade replaced the file, the kernel appends this to its path.
    constexpr std::string_view deleted = " (deleted)";
    std::string_view path = executable;
    if (path.ends_with(deleted)) path.remove_suffix(deleted.size());
    return std::string(baseNameOf(path));
  }
  if (match == ProcessMatch::script) return nodeScript(arguments).value_or(std::string(command));
  if (match == ProcessMatch::python && isPython(command))
    return pythonProgram(arguments).value_or(std::string(command));
  return std::string(command);
}

std::optional<HookEventRole> CodingAgent::roleOf(std::string_view event) const {
  for (const auto& [name, role] : events) {
    if (name == event) return role;
  }
  return std::nullopt;
}

std::string CodingAgent::hookCommand(const std::string& executable, std::string_view event) const {
  std::string quoted = "'";
  for (const char c : executable) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += "'";
  if (key == "claude") return quoted + " --claude-hook";
  std::string line = quoted + " --agent-hook=" + std::string(key);
  if (eventKey.empty()) line += ":" + std::string(event);
  return line;
}

}  // namespace lumacap
