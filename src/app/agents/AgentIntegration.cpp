#include "app/agents/AgentIntegration.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QDateTime>
#include <QFutureWatcher>
#include <QLocale>
#include <QTimeZone>
#include <QtConcurrent>
#include <algorithm>
#include <map>

#include "core/AgentTranscript.h"
#include "core/DataRoot.h"
#include "core/ScreenshotStore.h"
#include "core/StagingText.h"
#include "core/Unicode.h"
#include "platform/ReadyFuture.h"

namespace lumacap {
namespace {

constexpr size_t shortSessionIDLength = 6;
// How long the workspace's fresh window list is awaited before its last one answers.
constexpr auto windowListPatience = std::chrono::seconds(1);
constexpr size_t longestWindowTitle = 40;

std::string shortSessionID(const std::string& id) {
  const std::vector<std::string> characters = unicode::graphemes(id);
  std::string prefix;
  for (size_t i = 0; i < characters.size() && i < shortSessionIDLength; ++i) prefix += characters[i];
  return prefix;
}

std::string elided(const std::string& text, size_t length) {
  const std::vector<std::string> characters = unicode::graphemes(text);
  if (characters.size() <= length) return text;
  std::string prefix;
  for (size_t i = 0; i + 1 < length; ++i) prefix += characters[i];
  return prefix + "…";
}

// "started 14:02:31" in local time, from the start time as the process
// lister writes it ("Sat Dec  5 09:41:07 2026", UTC).
std::optional<std::string> startedLabel(const std::string& started) {
  const QDateTime parsed = QLocale::c().toDateTime(QString::fromStdString(started).simplified(),
                                                   QStringLiteral("ddd MMM d HH:mm:ss yyyy"));
  if (!parsed.isValid()) return std::nullopt;
  const QDateTime utc(parsed.date(), parsed.time(), QTimeZone::utc());
  return "started " + utc.toLocalTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
}

// Awaits the workspace's fresh window list, for a moment at most.
QCoro::Task<> awaitFreshWindows(Workspace& workspace) {
  QFutureWatcher<void> listed;
  listed.setFuture(workspace.refreshed());
  if (!listed.isFinished()) co_await qCoro(&listed, &QFutureWatcher<void>::finished, windowListPatience);
}

// The title of the session's terminal window, when the platform knows it.
std::optional<std::string> terminalTitle(const AgentSession& session, Workspace& workspace) {
  if (!session.hostPID) return std::nullopt;
  std::optional<std::string> title = workspace.windowTitle(*session.hostPID);
  if (title) title = QString::fromStdString(*title).trimmed().toStdString();
  if (!title || title->empty()) return std::nullopt;
  return title;
}

// Sessions that would have the same title (two sessions in one folder) get
// what a person tells them apart by: the last prompt typed in each, else
// their terminal window's title (Claude Code gives every window the same
// one), else when they started; what is shared by two of them says nothing
// and is passed over. Failing all of those, the short session id.
void distinguishNamesakes(std::vector<AgentDestination>& destinations, Workspace& workspace) {
  std::map<std::string, std::vector<AgentDestination*>> byTitle;
  for (AgentDestination& destination : destinations) byTitle[destination.title].push_back(&destination);
  for (auto& [title, namesakes] : byTitle) {
    if (namesakes.size() < 2) continue;
    using Labels = std::vector<std::optional<std::string>>;
    std::vector<Labels> ways(3);
    for (const AgentDestination* namesake : namesakes) {
      const std::string& prompt = namesake->lastPrompt;
      ways[0].push_back(prompt.empty() ? std::nullopt
                                       : std::optional("“" + elided(prompt, longestWindowTitle) + "”"));
      const std::optional<std::string> window = terminalTitle(*namesake->session, workspace);
      ways[1].push_back(window ? std::optional(elided(*window, longestWindowTitle)) : std::nullopt);
      ways[2].push_back(startedLabel(namesake->session->process.started));
    }
    for (size_t i = 0; i < namesakes.size(); ++i) {
      std::string which = shortSessionID(namesakes[i]->id);
      for (const Labels& labels : ways) {
        if (labels[i] && std::count(labels.begin(), labels.end(), labels[i]) == 1) {
          which = *labels[i];
          break;
        }
      }
      namesakes[i]->title += " · " + which;
    }
  }
}

std::string stagedMessage(bool activated, const std::string& folder) {
  if (activated) {
    return "Path and message copied. Select the " + folder +
           " session in your terminal and paste. Nothing was submitted.";
  }
  return "Path and message copied. Open the " + folder + " session and paste. Nothing was submitted.";
}

}  // namespace

const AgentDestination& AgentDestination::clipboard() {
  static const AgentDestination destination{"clipboard", "Clipboard", "Available · paste in any agent",
                                            std::nullopt};
  return destination;
}

IntegrationError::IntegrationError(Kind kind)
    : KindedError(kind, kind == Kind::sessionEnded
                            ? "That Claude Code session has ended. Refresh destinations or choose Clipboard. "
                              "Your screenshot is saved."
                            : "That session has ended. Refresh destinations or choose Clipboard. Your "
                              "screenshot is saved.") {}

ClaudeCodeIntegration::ClaudeCodeIntegration(Pasteboard& pasteboard, Workspace& workspace,
                                             ProcessSource& processes,
                                             std::optional<std::filesystem::path> root)
    : pasteboard_(pasteboard), workspace_(workspace), processes_(processes), root_(std::move(root)) {}

std::filesystem::path ClaudeCodeIntegration::root() const { return root_ ? *root_ : dataRoot(); }

AgentDestination ClaudeCodeIntegration::destination(const AgentSession& session) {
  return AgentDestination{
      session.id,
      std::string(session.codingAgent().menuName) + " · " + session.project(),
      "Active · " + session.cwd + " · " + shortSessionID(session.id),
      session,
  };
}

AgentDestination ClaudeCodeIntegration::destination(const FoundAgentProcess& found) {
  const CodingAgent& agent = found.session.codingAgent();
  AgentDestination listed = destination(found.session);
  listed.detail = "Found running · " + found.session.cwd;
  listed.note = agent.hasHooks() ? "Found from its running process. Install " + std::string(agent.name) +
                                       "’s hooks in Settings to make its sessions exact."
                                 : "Found from its running process.";
  return listed;
}

std::vector<AgentDestination> ClaudeCodeIntegration::readDestinations(
    const std::filesystem::path& root, ProcessSource& processes,
    const std::vector<FoundAgentProcess>& found) {
  const std::vector<AgentSession> sessions =
      SessionRepository(root).liveSessions([&processes](int32_t pid, const CodingAgent& agent) {
        return processes.probeAgent(pid, agent).identity;
      });
  std::vector<AgentDestination> destinations;
  destinations.reserve(sessions.size());
  for (const AgentSession& session : sessions) {
    destinations.push_back(destination(session));
    if (session.transcriptPath) {
      destinations.back().lastPrompt = AgentTranscript::lastPrompt(*session.transcriptPath).value_or("");
    }
  }
  for (const FoundAgentProcess& agent : found) {
    const bool recorded = std::any_of(sessions.begin(), sessions.end(), [&](const AgentSession& session) {
      return std::find(agent.lineage.begin(), agent.lineage.end(), session.process.pid) !=
             agent.lineage.end();
    });
    if (!recorded) destinations.push_back(destination(agent));
  }
  return destinations;
}

// The futures are named before they are awaited: GCC 12 destroys a lambda
// temporary inside a co_await expression twice.
QCoro::Task<std::vector<AgentDestination>> ClaudeCodeIntegration::destinations() {
  QFuture<std::vector<AgentDestination>> listing = QtConcurrent::run(
      [root = root(), processes = &processes_, finder = finder_]() -> std::vector<AgentDestination> {
        try {
          return readDestinations(root, *processes, finder ? finder() : std::vector<FoundAgentProcess>{});
        } catch (const std::exception&) {
          return {};  // an unreadable session folder holds no session
        }
      });
  Workspace* workspace = &workspace_;  // outlives the integration; `this` may not be there afterwards
  std::vector<AgentDestination> listed = co_await listing;
  distinguishNamesakes(listed, *workspace);
  co_return listed;
}

QCoro::Task<DeliveryReceipt> ClaudeCodeIntegration::stage(std::filesystem::path file, std::string prompt,
                                                          AgentDestination destination) {
  if (!destination.session) throw StoreError(StoreError::Kind::missingCapture);
  const AgentSession session = *destination.session;

  const CodingAgent& agent = session.codingAgent();
  QFuture<std::optional<ProcessIdentity>> probe =
      QtConcurrent::run([processes = &processes_, pid = session.process.pid, agent = &agent] {
        return processes->probeAgent(pid, *agent).identity;
      });
  const std::optional<ProcessIdentity> current = co_await probe;
  // A pid that was reused by another process (other start time or command) is no longer the session.
  if (!current || *current != session.process) {
    throw IntegrationError(agent == CodingAgent::claude() ? IntegrationError::Kind::sessionEnded
                                                          : IntegrationError::Kind::agentSessionEnded);
  }

  pasteboard_.setText(StagingText::make(file, prompt, agent.staging));
  co_await awaitFreshWindows(workspace_);
  const bool activated = co_await activateHost(session);
  co_return DeliveryReceipt{"Staged", stagedMessage(activated, session.project()), activated};
}

QFuture<bool> ClaudeCodeIntegration::activateHost(const AgentSession& session) {
  if (!session.hostPID || !session.hostBundleID) return readyFuture(false);
  const std::optional<DesktopApplication> host = workspace_.application(*session.hostPID);
  if (!host || host->bundleIdentifier != session.hostBundleID) return readyFuture(false);
  return workspace_.activate(*host);
}

}  // namespace lumacap
