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
  return CodingAgent::claude().recognises(executable, executable, {});
}

std::optional<std::pair<const CodingAgent*, std::string>> HookHandler::agentOption(std::string_view value) {
  const size_t colon = value.find(':');
  const CodingAgent* agent = CodingAgent::find(value.substr(0, colon));
  if (!agent) return std::nullopt;
  return std::pair{agent,
                   colon == std::string_view::npos ? std::string() : std::string(value.substr(colon + 1))};
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

void HookHandler::run(int input) {
  handle(HookInput::decode(readRecord(input), *environment_.agent, environment_.event));
}

void HookHandler::handle(const HookInput& input) {
  if (environment_.agent->roleOf(input.hook_event_name) == HookEventRole::end) {
    environment_.sessions.remove(input.session_id);
    return;
  }
  Ancestry ancestry = walkAncestors();
  if (!ancestry.agent) return;
  if (!ancestry.host) {
    if (Ancestry attached = attachedInterface(*ancestry.agent, input.cwd); attached.agent)
      ancestry = std::move(attached);
  }
  environment_.sessions.write(AgentSession{
      .id = input.session_id,
      .cwd = input.cwd,
      .process = *ancestry.agent,
      .hostBundleID = ancestry.host ? ancestry.host->bundleIdentifier : std::nullopt,
      .hostPID = ancestry.host ? std::optional(ancestry.host->pid) : std::nullopt,
      .updatedAt = environment_.now(),
      .transcriptPath = input.transcript_path,
      .agent = std::string(environment_.agent->key),
  });
}

HookHandler::Ancestry HookHandler::attachedInterface(const ProcessIdentity& server, const std::string& cwd) {
  ProcessSource& processes = environment_.processes;
  const auto serves = [&](int32_t pid) {
    const auto words = processes.arguments(pid).value_or(std::vector<std::string>{});
    return std::find(words.begin(), words.end(), "app-server") != words.end();
  };
  if (!serves(server.pid)) return {};
  std::optional<int32_t> client;
  for (const int32_t pid : processes.processIDs(ProcessSource::listingLimit)) {
    if (pid == server.pid || processes.workingFolder(pid) != fs::path(cwd)) continue;
    if (!processes.probeAgent(pid, *environment_.agent).isAgent || serves(pid)) continue;
    if (client) return {};  // two in the same folder: which one is not known
    client = pid;
  }
  if (!client) return {};
  Ancestry found = walkAncestors(processes.parent(*client));
  found.agent = processes.probeAgent(*client, *environment_.agent).identity;
  return found;
}

HookHandler::Ancestry HookHandler::walkAncestors(std::optional<int32_t> start) {
  Ancestry found;
  ProcessSource& processes = environment_.processes;
  std::optional<int32_t> current = start ? start : processes.parent(environment_.hookPid);
  int budget = maximumFurtherSteps;
  while (current && *current >= 2) {
    const ProcessSource::Probe probe = processes.probe(*current);
    const std::optional<ProcessIdentity>& identity = probe.identity;
    if (!identity) break;
    if (!found.agent) {
      ProcessSource::AgentProbe agent = processes.probeAgent(*current, *environment_.agent, identity);
      if (agent.isAgent) found.agent = std::move(agent.identity);
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

fs::path HookHandler::settingsFile() { return HookInstaller(CodingAgent::claude()).hooksFile(); }

bool HookHandler::hooksInstalled(const fs::path& executable) {
  return HookInstaller(CodingAgent::claude()).installed(executable);
}

HookStatus HookHandler::status(const fs::path& executable) {
  return HookInstaller(CodingAgent::claude()).status(executable);
}

std::string HookHandler::configure(bool install, const fs::path& executable) {
  return HookInstaller(CodingAgent::claude()).configure(install, executable);
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
