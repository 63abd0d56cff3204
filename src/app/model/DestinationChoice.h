#pragma once

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <optional>
#include <string>

#include "app/agents/AgentIntegration.h"

namespace lumacap {

class AgentSessionRegistry;
class SettingsManager;

// The destination the capture in hand goes to: the clipboard or one listed
// agent session. It is always a listed one, so that every view that shows
// it agrees; when its session ends, the clipboard is chosen.
class DestinationChoice final : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* clipboardID = "clipboard";

  DestinationChoice(AgentSessionRegistry& registry, SettingsManager& settings, QObject* parent = nullptr);

  const QString& id() const { return id_; }
  // `id` when it is listed, else the clipboard.
  void choose(const QString& id);
  // The listed destination chosen; throws when its session has ended.
  AgentDestination chosen() const;

  // Lists the destinations again (`preferredBundle`: the terminal to list
  // first). With `suggest`, and unless the user chose for this capture, the
  // choice becomes the last destination used, else the session whose
  // terminal is `returnBundle`, else the clipboard.
  QCoro::Task<> refresh(bool suggest, bool userChose, std::optional<std::string> preferredBundle,
                        std::optional<std::string> returnBundle);

 signals:
  void changed();

 private:
  bool listed(const QString& id) const;
  void set(const QString& id);

  AgentSessionRegistry& registry_;
  SettingsManager& settings_;
  QString id_ = clipboardID;
};

}  // namespace lumacap
