#include "app/views/AgentSetupPanel.h"

#include <QCoroFuture>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace lumacap {
namespace {

std::vector<AgentSetupStatus> readAll(std::function<AgentSetupStatus(const CodingAgent&)> read) {
  std::vector<AgentSetupStatus> all;
  for (const CodingAgent* agent : CodingAgent::all()) all.push_back(read(*agent));
  return all;
}

QString runInstaller(std::function<std::string(const CodingAgent&, AgentSetupPart, bool)> configure,
                     const CodingAgent* agent, AgentSetupPart part, bool install) {
  try {
    return QString::fromStdString(configure(*agent, part, install));
  } catch (const std::exception& failure) {
    return QStringLiteral("Could not update ") + QString::fromUtf8(agent->name.data(), agent->name.size()) +
           QStringLiteral(": ") + QString::fromUtf8(failure.what());
  }
}

QString stateText(const std::optional<bool>& installed, const char* yes, const char* no) {
  return !installed ? QStringLiteral("unreadable") : QString::fromUtf8(*installed ? yes : no);
}

}  // namespace

AgentSetupPanel::AgentSetupPanel(const ViewContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
  auto* rows = new QVBoxLayout(this);
  rows->setContentsMargins(0, 0, 0, 0);
  for (const CodingAgent* agent : CodingAgent::all()) {
    auto* widget = new QWidget(this);
    auto* line = new QHBoxLayout(widget);
    line->setContentsMargins(0, 0, 0, 0);
    auto* status = new QLabel(widget);
    status->setWordWrap(true);
    auto* hooks = new QPushButton(widget);
    auto* mcp = new QPushButton(widget);
    line->addWidget(status, 1);
    line->addWidget(hooks);
    line->addWidget(mcp);
    connect(hooks, &QPushButton::clicked, this, [this, agent] { configure(agent, AgentSetupPart::hooks); });
    connect(mcp, &QPushButton::clicked, this, [this, agent] { configure(agent, AgentSetupPart::mcp); });
    widget->hide();  // until its state is read
    rows->addWidget(widget);
    rows_.push_back({agent, widget, status, hooks, mcp, std::nullopt});
  }
}

const AgentSetupPanel::Row* AgentSetupPanel::find(std::string_view key) const {
  for (const Row& row : rows_) {
    if (row.agent->key == key) return &row;
  }
  return nullptr;
}

QWidget* AgentSetupPanel::row(std::string_view key) const { return find(key) ? find(key)->widget : nullptr; }
QLabel* AgentSetupPanel::statusLabel(std::string_view key) const {
  return find(key) ? find(key)->status : nullptr;
}
QPushButton* AgentSetupPanel::button(std::string_view key, AgentSetupPart part) const {
  const Row* found = find(key);
  return !found ? nullptr : part == AgentSetupPart::hooks ? found->hooks : found->mcp;
}

void AgentSetupPanel::render(Row& row) {
  const AgentSetupStatus& state = *row.state;
  row.widget->setVisible(state.found);
  row.status->setText(QString::fromUtf8(row.agent->name.data(), row.agent->name.size()) +
                      QStringLiteral(": hooks ") +
                      stateText(state.hooks.installed, "installed", "not installed") +
                      QStringLiteral(", MCP server ") + stateText(state.mcp.installed, "added", "not added"));
  row.hooks->setText(state.hooks.installed.value_or(false) ? QStringLiteral("Remove Hooks")
                                                           : QStringLiteral("Install Hooks"));
  row.mcp->setText(state.mcp.installed.value_or(false) ? QStringLiteral("Remove MCP")
                                                       : QStringLiteral("Add MCP"));
}

QCoro::Task<> AgentSetupPanel::refresh() {
  if (!context_.agentStatus) co_return;
  const QPointer<AgentSetupPanel> self(this);
  const std::vector<AgentSetupStatus> all = co_await QtConcurrent::run(&readAll, context_.agentStatus);
  if (!self) co_return;
  bool any = false;
  for (size_t i = 0; i < rows_.size() && i < all.size(); ++i) {
    rows_[i].state = all[i];
    render(rows_[i]);
    any = any || all[i].found;
  }
  // Nothing found, nothing shown: the section above offers Claude Code's hooks either way.
  setVisible(any);
  listed_ = true;
}

void AgentSetupPanel::setBusy(bool busy) {
  busy_ = busy;
  for (const Row& row : rows_) {
    row.hooks->setEnabled(!busy);
    row.mcp->setEnabled(!busy);
  }
}

QCoro::Task<> AgentSetupPanel::configure(const CodingAgent* agent, AgentSetupPart part) {
  const Row* row = find(agent->key);
  if (busy_ || !row || !row->state || !context_.configureAgent) co_return;
  const HookStatus& current = part == AgentSetupPart::hooks ? row->state->hooks : row->state->mcp;
  const bool install = !current.installed.value_or(false);
  const QPointer<AgentSetupPanel> self(this);
  setBusy(true);
  const QString outcome =
      co_await QtConcurrent::run(&runInstaller, context_.configureAgent, agent, part, install);
  if (!self) co_return;
  emit message(outcome);
  co_await refresh();
  if (self) setBusy(false);
}

}  // namespace lumacap
