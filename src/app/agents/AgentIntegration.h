#pragma once

#include <QCoroTask>
#include <QFuture>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/AgentSession.h"
#include "core/ProgramError.h"
#include "platform/Pasteboard.h"
#include "platform/ProcessSource.h"
#include "platform/Workspace.h"
#include "platform/linux/AgentProcessFinder.h"

namespace lumacap {

// A place to hand a saved capture to: the clipboard, or one live Claude Code
// session. A destination without a session always means the clipboard.
struct AgentDestination {
  std::string id;      // the session id, or "clipboard"
  std::string title;   // first line of the destination menu
  std::string detail;  // second line: status, folder, short session id
  std::optional<AgentSession> session;
  // The last prompt the user typed in the session, when its transcript says;
  // tells apart sessions that would otherwise read alike.
  std::string lastPrompt = {};
  // For a session found from its process rather than a hook: says so, and
  // how its sessions become exact (the menu's tooltip). Empty otherwise.
  std::string note = {};

  // id "clipboard", title "Clipboard", no session; built once.
  static const AgentDestination& clipboard();

  bool operator==(const AgentDestination&) const = default;
};

// The outcome of a successful delivery.
struct DeliveryReceipt {
  std::string status;           // "Staged" for a session, "Copied" for the clipboard
  std::string message;          // one sentence: what was done and what to do next
  bool broughtForward = false;  // the session's terminal was brought to the front

  bool operator==(const DeliveryReceipt&) const = default;
};

// sessionEnded names Claude Code; agentSessionEnded is another agent's.
enum class IntegrationErrorKind { sessionEnded, agentSessionEnded };

// The one way delivery to an agent fails on its own account.
class IntegrationError : public KindedError<IntegrationErrorKind> {
 public:
  explicit IntegrationError(Kind kind);
};

// One agent integration: where it can deliver to, and the delivery itself.
// Both operations resume on the GUI thread; slow work runs on a worker.
class AgentIntegrationProtocol {
 public:
  virtual ~AgentIntegrationProtocol() = default;

  // The destinations this integration can deliver to now; never fails.
  virtual QCoro::Task<std::vector<AgentDestination>> destinations() = 0;
  // Stages the saved PNG `file` with the user's message (possibly empty).
  virtual QCoro::Task<DeliveryReceipt> stage(std::filesystem::path file, std::string prompt,
                                             AgentDestination destination) = 0;
};

// The sessions of Claude Code and the other coding agents whose hooks keep
// them in the session folder. Holds no state of its own: every call reads the
// folder and the process table afresh. Nothing is ever typed into or
// submitted to the agent.
class ClaudeCodeIntegration final : public AgentIntegrationProtocol {
 public:
  // `root` is the data root whose "Sessions" folder is read; by default the
  // one dataRoot() names at the time of each call.
  ClaudeCodeIntegration(Pasteboard& pasteboard, Workspace& workspace, ProcessSource& processes,
                        std::optional<std::filesystem::path> root = std::nullopt);

  // One destination per live session, most recently updated first, named by
  // its agent ("Codex · project"). Sessions of one agent and folder are told
  // apart by their terminal's window title, else by when they started
  // ("Claude Code · project · started 14:02").
  QCoro::Task<std::vector<AgentDestination>> destinations() override;
  // Checks that the session's process is still the recorded one, puts the
  // staging text in the agent's style on the clipboard and brings the host terminal forward when
  // it can be identified safely. Throws StoreError (missingCapture) for a
  // destination without a session and IntegrationError (sessionEnded) when
  // the process is gone; the clipboard is then left as it was.
  QCoro::Task<DeliveryReceipt> stage(std::filesystem::path file, std::string prompt,
                                     AgentDestination destination) override;

  // Where sessions of agents without (working) hooks come from: called on a
  // worker at each listing. None by default.
  using ProcessFinder = std::function<std::vector<FoundAgentProcess>()>;
  void setProcessFinder(ProcessFinder finder) { finder_ = std::move(finder); }

  // The blocking part of destinations(): reads the session folder under
  // `root` and probes each session's process, then adds the `found` sessions
  // that no hook recorded (none of whose lineage is a recorded process).
  static std::vector<AgentDestination> readDestinations(const std::filesystem::path& root,
                                                        ProcessSource& processes,
                                                        const std::vector<FoundAgentProcess>& found = {});
  static AgentDestination destination(const AgentSession& session);
  static AgentDestination destination(const FoundAgentProcess& found);

 private:
  std::filesystem::path root() const;
  // Activates the host application only when the recorded pid still belongs
  // to an application with the recorded bundle identifier.
  QFuture<bool> activateHost(const AgentSession& session);

  Pasteboard& pasteboard_;
  Workspace& workspace_;
  ProcessSource& processes_;
  std::optional<std::filesystem::path> root_;
  ProcessFinder finder_;
};

}  // namespace lumacap
