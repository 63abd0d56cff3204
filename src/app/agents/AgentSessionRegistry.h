#pragma once

#include <QObject>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/agents/AgentIntegration.h"

namespace lumacap {

// The observable list of delivery destinations: always the clipboard first,
// then, after a refresh, one destination per live Claude Code session, those
// hosted by the preferred application first. Lives on the GUI thread.
class AgentSessionRegistry : public QObject {
  Q_OBJECT
  Q_PROPERTY(std::vector<lumacap::AgentDestination> destinations READ destinations NOTIFY destinationsChanged)
  Q_PROPERTY(bool refreshing READ refreshing NOTIFY refreshingChanged)

 public:
  // The registry owns the integration it lists sessions from (the Claude Code
  // one in the application).
  explicit AgentSessionRegistry(std::unique_ptr<AgentIntegrationProtocol> integration,
                                QObject* parent = nullptr);
  ~AgentSessionRegistry() override;

  const std::vector<AgentDestination>& destinations() const { return destinations_; }
  bool refreshing() const { return refreshing_; }

  // Replaces the list with a fresh listing. Asked for while another runs, it
  // ends after one more listing made once that one is done. Never throws.
  QCoro::Task<> refresh(std::optional<std::string> preferredBundle);

  // Sessions hosted by `preferredBundle` first; otherwise the order is kept.
  static std::vector<AgentDestination> ordered(std::vector<AgentDestination> sessions,
                                               const std::optional<std::string>& preferredBundle);

 signals:
  void destinationsChanged();
  void refreshingChanged();

 private:
  void setRefreshing(bool refreshing);
  void publish(std::vector<AgentDestination> sessions, const std::optional<std::string>& preferredBundle);

  std::vector<AgentDestination> destinations_{AgentDestination::clipboard()};
  bool refreshing_ = false;
  // The preferred application of a refresh asked for while one ran.
  std::optional<std::optional<std::string>> followUp_;
  std::unique_ptr<AgentIntegrationProtocol> integration_;
};

}  // namespace lumacap

Q_DECLARE_METATYPE(lumacap::AgentDestination)
