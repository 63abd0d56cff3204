#pragma once

#include <QCoroTask>
#include <QWidget>
#include <optional>
#include <string_view>
#include <vector>

#include "app/model/ViewContext.h"

class QLabel;
class QPushButton;

namespace lumacap {

// Settings' rows for the coding agents on this computer: for each, whether
// Lumacap's hooks are installed and its MCP server added, with a button to
// change each. Every read and write of the agents' files runs off the GUI
// thread; the rows follow what was read after each change.
class AgentSetupPanel final : public QWidget {
  Q_OBJECT

 public:
  AgentSetupPanel(const ViewContext& context, QWidget* parent);

  // Reads every agent's state again and shows it.
  QCoro::Task<> refresh();

  // For tests: an agent's row (hidden when the agent is not on this computer).
  QWidget* row(std::string_view key) const;
  QLabel* statusLabel(std::string_view key) const;
  QPushButton* button(std::string_view key, AgentSetupPart part) const;
  bool busy() const { return busy_; }
  // The agents were read at least once.
  bool listed() const { return listed_; }

 signals:
  // A change's outcome, for the window's message line.
  void message(const QString& text);

 private:
  struct Row {
    const CodingAgent* agent;
    QWidget* widget;
    QLabel* status;
    QPushButton* hooks;
    QPushButton* mcp;
    std::optional<AgentSetupStatus> state;
  };
  const Row* find(std::string_view key) const;
  QCoro::Task<> configure(const CodingAgent* agent, AgentSetupPart part);
  void setBusy(bool busy);
  void render(Row& row);

  const ViewContext& context_;
  std::vector<Row> rows_;
  bool busy_ = false;
  bool listed_ = false;
};

}  // namespace lumacap
