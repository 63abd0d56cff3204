#include "app/agents/AgentSessionRegistry.h"

#include <QCoroSignal>
#include <QPointer>
#include <algorithm>

namespace lumacap {

AgentSessionRegistry::AgentSessionRegistry(std::unique_ptr<AgentIntegrationProtocol> integration,
                                           QObject* parent)
    : QObject(parent), integration_(std::move(integration)) {}

AgentSessionRegistry::~AgentSessionRegistry() = default;

std::vector<AgentDestination> AgentSessionRegistry::ordered(
    std::vector<AgentDestination> sessions, const std::optional<std::string>& preferredBundle) {
  if (!preferredBundle) return sessions;
  std::stable_partition(sessions.begin(), sessions.end(), [&](const AgentDestination& destination) {
    return destination.session && destination.session->hostBundleID == preferredBundle;
  });
  return sessions;
}

void AgentSessionRegistry::setRefreshing(bool refreshing) {
  if (refreshing_ == refreshing) return;
  refreshing_ = refreshing;
  emit refreshingChanged();
}

// A refresh asked for while one runs is not dropped: the running one lists
// once more when it is done (with the latest preference), and the caller's
// task ends after that listing.
QCoro::Task<> AgentSessionRegistry::refresh(std::optional<std::string> preferredBundle) {
  const QPointer<AgentSessionRegistry> alive(this);
  if (refreshing_) {
    followUp_ = std::move(preferredBundle);
    while (alive && refreshing_) co_await qCoro(this, &AgentSessionRegistry::refreshingChanged);
    co_return;
  }
  setRefreshing(true);
  std::optional<std::optional<std::string>> next = std::move(preferredBundle);
  while (next) {
    const std::optional<std::string> preferred = std::move(*next);
    followUp_.reset();
    std::vector<AgentDestination> sessions;
    try {
      sessions = co_await integration_->destinations();
    } catch (const std::exception&) {
      // The listing reports no failure of its own; should one reach here, the
      // sessions are simply unknown this time.
    }
    if (!alive) co_return;  // the registry went away while the listing ran
    publish(std::move(sessions), preferred);
    next = std::exchange(followUp_, std::nullopt);
  }
  setRefreshing(false);
}

void AgentSessionRegistry::publish(std::vector<AgentDestination> sessions,
                                   const std::optional<std::string>& preferredBundle) {
  std::vector<AgentDestination> next{AgentDestination::clipboard()};
  for (AgentDestination& destination : ordered(std::move(sessions), preferredBundle)) {
    if (destination.session) next.push_back(std::move(destination));
  }
  if (next != destinations_) {
    destinations_ = std::move(next);
    emit destinationsChanged();
  }
}

}  // namespace lumacap
