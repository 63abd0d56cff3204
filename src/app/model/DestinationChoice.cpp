#include "app/model/DestinationChoice.h"

#include <QPointer>
#include <algorithm>

#include "app/agents/AgentSessionRegistry.h"
#include "app/model/SettingsManager.h"

namespace lumacap {

DestinationChoice::DestinationChoice(AgentSessionRegistry& registry, SettingsManager& settings,
                                     QObject* parent)
    : QObject(parent), registry_(registry), settings_(settings) {
  connect(&registry_, &AgentSessionRegistry::destinationsChanged, this, [this] {
    if (!listed(id_)) set(clipboardID);
  });
}

void DestinationChoice::choose(const QString& id) { set(listed(id) ? id : QString(clipboardID)); }

void DestinationChoice::set(const QString& id) {
  if (id_ == id) return;
  id_ = id;
  emit changed();
}

bool DestinationChoice::listed(const QString& id) const {
  const auto& destinations = registry_.destinations();
  return std::any_of(destinations.begin(), destinations.end(), [&](const AgentDestination& destination) {
    return QString::fromStdString(destination.id) == id;
  });
}

AgentDestination DestinationChoice::chosen() const {
  const auto& destinations = registry_.destinations();
  const auto found = std::find_if(
      destinations.begin(), destinations.end(),
      [this](const AgentDestination& destination) { return QString::fromStdString(destination.id) == id_; });
  if (found == destinations.end()) throw IntegrationError(IntegrationError::Kind::sessionEnded);
  return *found;
}

QCoro::Task<> DestinationChoice::refresh(bool suggest, bool userChose,
                                         std::optional<std::string> preferredBundle,
                                         std::optional<std::string> returnBundle) {
  const QPointer<DestinationChoice> self(this);
  co_await registry_.refresh(preferredBundle);
  if (!self) co_return;

  // A choice the user made for the capture in hand stays while it is listed.
  if (!suggest || userChose) {
    if (!listed(id_)) set(clipboardID);
    co_return;
  }
  if (const auto last = settings_.lastDestination(); last && listed(QString::fromStdString(*last))) {
    set(QString::fromStdString(*last));
    co_return;
  }
  // A terminal that is not known matches nothing, not even another unknown one.
  for (const AgentDestination& destination : registry_.destinations()) {
    if (returnBundle && destination.session && destination.session->hostBundleID == returnBundle) {
      set(QString::fromStdString(destination.id));
      co_return;
    }
  }
  set(clipboardID);
}

}  // namespace lumacap
