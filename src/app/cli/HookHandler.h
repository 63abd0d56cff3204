#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/AgentSession.h"
#include "platform/ProcessSource.h"
#include "platform/RunningApplicationLookup.h"

namespace lumacap {

// Where this program's hooks go, and whether they are there (nothing when
// that file cannot be read).
struct HookStatus {
  std::filesystem::path settingsFile;
  std::optional<bool> installed;
};

// The hook role: one Claude Code hook event read from standard input becomes
// a session file (or its removal). Also the file side of the hook installer.
class HookHandler {
 public:
  struct Environment {
    ProcessSource& processes;
    RunningApplicationLookup& applications;
    SessionRepository sessions;
    int32_t hookPid;  // the walk starts at this process's parent
    std::function<Date()> now = &Date::now;
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
  // Walks from the hook's parent up at most 24 processes.
  Ancestry walkAncestors();

  // Whether a process is Claude Code, by its command (and, where the system
  // tells it, the path of its executable).
  static bool isAgent(const std::string& executable);

  // Adds (install) or removes this program's hooks in Claude Code's settings,
  // keeping a backup. Returns the message to show; throws on failure.
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
