#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/cli/HookInstaller.h"
#include "core/AgentSession.h"
#include "platform/ProcessSource.h"
#include "platform/RunningApplicationLookup.h"

namespace lumacap {

// The hook role: one hook event of a coding agent read from standard input
// becomes a session file (or its removal). Also Claude Code's entry to the
// hook installer.
class HookHandler {
 public:
  struct Environment {
    ProcessSource& processes;
    RunningApplicationLookup& applications;
    SessionRepository sessions;
    int32_t hookPid;  // the walk starts at this process's parent
    std::function<Date()> now = &Date::now;
    const CodingAgent* agent = &CodingAgent::claude();
    // The event, for an agent whose record does not name it (from the hook's command).
    std::string event = {};
  };

  explicit HookHandler(Environment environment);

  // Reads the record from `input` (a file descriptor) and acts on it. Throws
  // what reading, decoding or the session store throw.
  void run(int input = 0);

  // Acts on a decoded record.
  void handle(const HookInput& input);

  struct Ancestry {
    std::optional<ProcessIdentity> agent;
    std::optional<RunningApplication> host;
  };
  // Walks from `start` (the hook's parent) up at most 24 processes: the
  // nearest process of the agent, the nearest application with a window class.
  Ancestry walkAncestors(std::optional<int32_t> start = std::nullopt);
  // A session hosted by an agent's background server (Codex's `app-server`,
  // which runs the hooks of the interfaces attached to it, away from any
  // terminal): the one interface of that agent working in `cwd`, and its
  // terminal; nothing when there is none, or more than one to choose from.
  Ancestry attachedInterface(const ProcessIdentity& server, const std::string& cwd);

  // Whether a process is Claude Code, by its command (and, where the system
  // tells it, the path of its executable).
  static bool isAgent(const std::string& executable);

  // `--agent-hook=VALUE`: the agent ("codex") and, after a colon, the event
  // for an agent whose record does not name it ("copilot:sessionEnd").
  // Nothing for an unknown agent.
  static std::optional<std::pair<const CodingAgent*, std::string>> agentOption(std::string_view value);

  // Adds (install) or removes this program's hooks in Claude Code's settings,
  // keeping a backup (HookInstaller for Claude Code). Returns the message to
  // show; throws on failure.
  static std::string configure(bool install, const std::filesystem::path& executable);

  // The settings file that configure() edits ($CLAUDE_CONFIG_DIR honoured).
  static std::filesystem::path settingsFile();
  // Whether that file holds this program's hooks for `executable` at the end
  // of each event, as an install leaves them. Throws when it cannot be read.
  static bool hooksInstalled(const std::filesystem::path& executable);
  // Both of the above, without throwing.
  static HookStatus status(const std::filesystem::path& executable);

  struct ReadLimits {
    std::chrono::milliseconds quietAfterCompleteValue;
    std::chrono::milliseconds withoutCompleteValue;
    ReadLimits(std::chrono::milliseconds quiet = std::chrono::milliseconds(100),
               std::chrono::milliseconds incomplete = std::chrono::milliseconds(3000))
        : quietAfterCompleteValue(quiet), withoutCompleteValue(incomplete) {}
  };
  // Reads a hook record: to end of input, or until what was read is one
  // complete JSON value and nothing more arrives for a moment (Claude Code may
  // leave standard input open). At most 1,048,577 bytes.
  static std::string readRecord(int input, ReadLimits limits);
  static std::string readRecord(int input) { return readRecord(input, ReadLimits()); }

 private:
  Environment environment_;
};

// The absolute path of the running executable (/proc/self/exe).
std::filesystem::path currentExecutablePath(const char* fallback,
                                            const std::filesystem::path& link = "/proc/self/exe");

}  // namespace lumacap
