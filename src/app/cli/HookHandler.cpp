#include "app/cli/HookHandler.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "core/AtomicFile.h"
#include "core/DataRoot.h"
#include "core/Hashing.h"
#include "core/HookConfiguration.h"
#include "core/Unicode.h"

namespace fs = std::filesystem;

namespace lumacap {
namespace {

constexpr int maximumFurtherSteps = 23;

std::string lastPathComponent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isVersionedAgentPath(const std::string& path) {
  if (path.find("/claude/versions/") == std::string::npos) return false;
  const std::string name = lastPathComponent(path);
  if (name.empty()) return false;
  return unicode::isNumber(unicode::decode(name).front());
}

// Waits until `input` has bytes or is closed. False when `timeout` passes first.
bool waitReadable(int input, std::chrono::milliseconds timeout) {
  pollfd descriptor{input, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&descriptor, 1, static_cast<int>(std::max<long long>(0, timeout.count())));
    if (ready >= 0) return ready > 0;
    if (errno != EINTR)
      throw std::system_error(errno, std::generic_category(), "Could not read standard input");
  }
}

// Follows JSON text as it arrives and tells when its first value has ended,
// looking at each byte once (parsing everything again at every pause would
// cost seconds for a large record written slowly). Whether the text is
// valid is for the decoder to say.
class JsonValueEnd {
 public:
  bool feed(std::string_view bytes) {
    for (const char c : bytes) {
      if (ended_) break;
      step(c);
    }
    return ended_;
  }

 private:
  void step(char c) {
    const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    if (inString_) {
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '"') {
        inString_ = false;
        ended_ = depth_ == 0;
      }
    } else if (!started_) {
      started_ = !space;
      closeValue(c);
    } else if (depth_ == 0) {
      ended_ = space || c == '{' || c == '[' || c == '"';  // the end of a number or literal
    } else {
      closeValue(c);
    }
  }
  void closeValue(char c) {
    if (c == '"') inString_ = true;
    if (c == '{' || c == '[') ++depth_;
    if ((c == '}' || c == ']') && --depth_ <= 0) ended_ = true;
  }

  bool started_ = false;
  bool inString_ = false;
  bool escaped_ = false;
  bool ended_ = false;
  int depth_ = 0;
};

}  // namespace

HookHandler::HookHandler(Environment environment) : environment_(std::move(environment)) {}

bool HookHandler::isAgent(const std::string& executable) {
  const std::string name = unicode::lowercased(lastPathComponent(executable));
  return name == "claude" || name.starts_with("claude-") || isVersionedAgentPath(executable);
}

std::string HookHandler::readRecord(int input, ReadLimits limits) {
  using Clock = std::chrono::steady_clock;
  // One limit for the whole read: a writer that keeps sending bytes cannot
  // keep the hook alive beyond it.
  const auto giveUpAt = Clock::now() + limits.withoutCompleteValue;
  std::string buffer;
  JsonValueEnd valueEnd;
  bool complete = false;
  char chunk[16384];
  while (buffer.size() <= HookInput::maximumSize) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt - Clock::now());
    // Once the value is complete, a moment without more bytes ends the read:
    // Claude Code may leave standard input open.
    if (!waitReadable(input, complete ? std::min(left, limits.quietAfterCompleteValue) : left)) {
      if (complete) break;
      throw std::system_error(ETIMEDOUT, std::generic_category(),
                              "Standard input stayed open without a complete hook record");
    }
    const size_t wanted = std::min(sizeof chunk, HookInput::maximumSize + 1 - buffer.size());
    const ssize_t got = ::read(input, chunk, wanted);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw std::system_error(errno, std::generic_category(), "Could not read standard input");
    }
    if (got == 0) break;
    buffer.append(chunk, static_cast<size_t>(got));
    complete = valueEnd.feed(std::string_view(chunk, static_cast<size_t>(got)));
  }
  return buffer;
}

void HookHandler::run(int input) { handle(HookInput::decode(readRecord(input))); }

void HookHandler::handle(const HookInput& input) {
  if (input.hook_event_name == "SessionEnd") {
    environment_.sessions.remove(input.session_id);
    return;
  }
  const Ancestry ancestry = walkAncestors();
  if (!ancestry.agent) return;
  environment_.sessions.write(AgentSession{
      .id = input.session_id,
      .cwd = input.cwd,
      .process = *ancestry.agent,
      .hostBundleID = ancestry.host ? ancestry.host->bundleIdentifier : std::nullopt,
      .hostPID = ancestry.host ? std::optional(ancestry.host->pid) : std::nullopt,
      .updatedAt = environment_.now(),
      .transcriptPath = input.transcript_path,
  });
}

HookHandler::Ancestry HookHandler::walkAncestors() {
  Ancestry found;
  ProcessSource& processes = environment_.processes;
  std::optional<int32_t> current = processes.parent(environment_.hookPid);
  int budget = maximumFurtherSteps;
  while (current && *current >= 2) {
    const ProcessSource::Probe probe = processes.probe(*current);
    const std::optional<ProcessIdentity>& identity = probe.identity;
    if (!identity) break;
    if (!found.agent) {
      bool agent = isAgent(identity->executable);
      // /proc names a process by its first 15 bytes only; a versioned native
      // install ("…/claude/versions/2.0.1") shows in its executable's path.
      if (!agent) {
        if (const auto path = processes.executablePath(*current))
          agent = isVersionedAgentPath(path->string());
      }
      if (agent) found.agent = identity;
    }
    if (!found.host) {
      if (auto application = environment_.applications.application(*current);
          application && application->bundleIdentifier) {
        found.host = std::move(application);
      }
    }
    const std::optional<int32_t>& parent = probe.parent;
    if (!parent || *parent == *current || budget == 0) break;
    --budget;
    current = parent;
  }
  return found;
}

namespace {

// Claude Code reads its settings from $CLAUDE_CONFIG_DIR when that is set,
// else from ~/.claude. A relative folder would depend on where this runs.
fs::path claudeConfigurationFolder() {
  const char* configured = std::getenv("CLAUDE_CONFIG_DIR");
  if (!configured || !*configured) return homeDirectory() / ".claude";
  if (*configured != '/') {
    throw std::runtime_error(std::string("CLAUDE_CONFIG_DIR must name a folder by its absolute path, not “") +
                             configured + "”.");
  }
  return configured;
}

constexpr size_t maximumSettingsSize = 64u << 20;
constexpr int mergeAttempts = 5;

// Serialises this program's edits of one settings file: an advisory lock on
// the folder that holds it, which outlives every edit, so no lock file is
// left behind and none can be removed under a waiting editor. Other programs
// do not take it; the check before the rename protects their edits.
FileDescriptor lockSettings(const fs::path& settings) {
  return lockExclusively(settings.parent_path(), settings);
}

enum class Edit { written, writtenOverExisting, unchanged, changedMeanwhile };

// One read-merge-write of the settings; nothing is written when another
// program changed the file in the meantime, or when a step fails (a backup
// made for it included).
Edit editOnce(const fs::path& settings, const fs::path& target, bool install, const fs::path& executable) {
  std::optional<FileSnapshot> current;
  std::optional<std::string> updated;
  try {
    current = readRegularFile(target, maximumSettingsSize);
    updated = HookConfiguration::merging(current ? std::optional(current->bytes) : std::nullopt, executable,
                                         install);
  } catch (const FileError& failure) {
    throw FileError(settings, failure.problem());
  }
  if (!updated) return Edit::unchanged;
  // The user's file keeps its permissions; a new one is private.
  PendingFile next(target, *updated, Durability::flushed, current ? current->permissions : 0600);
  std::optional<fs::path> backup;
  if (current) {
    backup = settings.parent_path() / ("settings.lumacap-backup-" + randomUuidString() + ".json");
    writeNewPrivateFile(*backup, current->bytes);
  }
  bool replaced = false;
  try {
    replaced = next.replaceIfUnchanged(current ? std::optional(current->identity) : std::nullopt);
  } catch (...) {
    if (backup) ::unlink(backup->c_str());
    throw;
  }
  if (replaced) {
    next.syncFolder();
    return current ? Edit::writtenOverExisting : Edit::written;
  }
  // A backup of a version that another program has since replaced.
  if (backup) ::unlink(backup->c_str());
  return Edit::changedMeanwhile;
}

std::string messageFor(bool install, Edit edit) {
  if (!install) return "Lumacap hooks removed. Restart Claude Code sessions to apply.";
  if (edit == Edit::unchanged) return "Hooks are already installed.";
  const std::string installed =
      "Hooks installed. Review them in Claude Code’s /hooks menu, then restart your sessions.";
  return edit == Edit::writtenOverExisting ? installed + " Existing settings were preserved and backed up."
                                           : installed;
}

}  // namespace

fs::path HookHandler::settingsFile() { return claudeConfigurationFolder() / "settings.json"; }

bool HookHandler::hooksInstalled(const fs::path& executable) {
  const fs::path settings = settingsFile();
  std::optional<FileSnapshot> current;
  try {
    current = readRegularFile(settings, maximumSettingsSize);
    return current && !HookConfiguration::merging(current->bytes, executable, true);
  } catch (const FileError& failure) {
    throw FileError(settings, failure.problem());
  }
}

HookStatus HookHandler::status(const fs::path& executable) {
  HookStatus status;
  try {
    status.settingsFile = settingsFile();
    status.installed = hooksInstalled(executable);
  } catch (const std::exception&) {
  }
  return status;
}

std::string HookHandler::configure(bool install, const fs::path& executable) {
  const fs::path settings = settingsFile();
  const fs::path folder = settings.parent_path();
  std::error_code error;
  if (!install && !fs::exists(folder, error)) return messageFor(false, Edit::unchanged);  // nothing to remove
  createPrivateDirectories(folder);
  const FileDescriptor lock = lockSettings(settings);
  const fs::path target = resolveLinks(settings);
  for (int attempt = 0; attempt < mergeAttempts; ++attempt) {
    const Edit edit = editOnce(settings, target, install, executable);
    if (edit != Edit::changedMeanwhile) return messageFor(install, edit);
  }
  throw FileError(settings, "another program kept changing it while Lumacap edited it; nothing was written");
}

fs::path currentExecutablePath(const char* fallback, const fs::path& link) {
  std::error_code error;
  const std::string path = fs::read_symlink(link, error).string();
  // After an upgrade replaced or removed the file, the kernel appends this to
  // its old path, which may now name another program.
  constexpr std::string_view deleted = " (deleted)";
  if (path.ends_with(deleted)) {
    throw std::runtime_error(
        "“" + path.substr(0, path.size() - deleted.size()) +
        "” was replaced while it ran; run the installed Lumacap again to set up its hooks.");
  }
  if (!error && !path.empty()) return path;
  if (!fallback || !*fallback) return {};
  return fs::absolute(fallback, error);
}

}  // namespace lumacap
