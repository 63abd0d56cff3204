#include "app/HookHandler.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
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

}  // namespace

HookHandler::HookHandler(Environment environment) : environment_(std::move(environment)) {}

bool HookHandler::isAgent(const std::string& executable) {
  const std::string name = unicode::lowercased(lastPathComponent(executable));
  return name == "claude" || name.starts_with("claude-") || isVersionedAgentPath(executable);
}

std::string HookHandler::readRecord(int input, ReadLimits limits) {
  using Clock = std::chrono::steady_clock;
  const auto giveUpAt = Clock::now() + limits.withoutCompleteValue;
  std::string buffer;
  char chunk[16384];
  while (buffer.size() <= HookInput::maximumSize) {
    if (!waitReadable(input, std::chrono::milliseconds(0))) {
      // Nothing waiting: the writer may be done but keep the pipe open.
      const bool complete = nlohmann::json::accept(buffer);
      const auto wait = complete
                            ? limits.quietAfterCompleteValue
                            : std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt - Clock::now());
      if (!waitReadable(input, wait)) {
        if (complete) break;
        throw std::system_error(ETIMEDOUT, std::generic_category(),
                                "Standard input stayed open without a complete hook record");
      }
    }
    const size_t wanted = std::min(sizeof chunk, HookInput::maximumSize + 1 - buffer.size());
    const ssize_t got = ::read(input, chunk, wanted);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw std::system_error(errno, std::generic_category(), "Could not read standard input");
    }
    if (got == 0) break;
    buffer.append(chunk, static_cast<size_t>(got));
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

// Claude Code reads its settings from $CLAUDE_CONFIG_DIR when that names a
// folder, else from ~/.claude.
fs::path claudeConfigurationFolder() {
  if (const char* configured = std::getenv("CLAUDE_CONFIG_DIR"); configured && *configured == '/') {
    return configured;
  }
  return homeDirectory() / ".claude";
}

// The file's bytes, or nothing when there is no such file.
std::optional<std::string> readIfPresent(const fs::path& file) {
  try {
    return readWholeFile(file);
  } catch (const std::system_error& failure) {
    if (failure.code() == std::errc::no_such_file_or_directory) return std::nullopt;
    throw;
  }
}

}  // namespace

std::string HookHandler::configure(bool install, const fs::path& executable) {
  const fs::path folder = claudeConfigurationFolder();
  const fs::path settings = folder / "settings.json";
  const std::optional<std::string> existing = readIfPresent(settings);

  std::string updated;
  try {
    updated = HookConfiguration::merging(existing, executable, install);
  } catch (const SettingsParseError& failure) {
    throw SettingsParseError(failure.detail(), settings.string());
  }

  createPrivateDirectories(folder);
  if (existing)
    writeNewPrivateFile(folder / ("settings.lumacap-backup-" + randomUuidString() + ".json"), *existing);
  writeFileAtomically(settings, updated);
  return install ? "Hooks installed. Review them in Claude Code’s /hooks menu, then restart your sessions. "
                   "Existing settings were preserved and backed up."
                 : "Lumacap hooks removed. Restart Claude Code sessions to apply.";
}

fs::path currentExecutablePath(const char* fallback) {
  std::error_code error;
  std::string path = fs::read_symlink("/proc/self/exe", error).string();
  // After an upgrade replaced the file, the kernel appends this to the old path.
  constexpr std::string_view deleted = " (deleted)";
  if (path.ends_with(deleted)) path.resize(path.size() - deleted.size());
  if (!error && !path.empty()) return path;
  if (!fallback || !*fallback) return {};
  return fs::absolute(fallback, error);
}

}  // namespace lumacap
