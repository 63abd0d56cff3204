#include "app/AgentSessionRegistry.h"

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

QCoro::Task<> AgentSessionRegistry::refresh(std::optional<std::string> preferredBundle) {
  if (refreshing_) co_return;
  setRefreshing(true);
  const QPointer<AgentSessionRegistry> alive(this);
  std::vector<AgentDestination> sessions;
  try {
    sessions = co_await integration_->destinations();
  } catch (const std::exception&) {
    // The listing reports no failure of its own; should one reach here, the
    // sessions are simply unknown this time.
  }
  if (!alive) co_return;  // the registry went away while the listing ran
  std::vector<AgentDestination> next{AgentDestination::clipboard()};
  for (AgentDestination& destination : ordered(std::move(sessions), preferredBundle)) {
    if (destination.session) next.push_back(std::move(destination));
  }
  if (next != destinations_) {
    destinations_ = std::move(next);
    emit destinationsChanged();
  }
  setRefreshing(false);
}

}  // namespace lumacap
