#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/handoff/InstanceBusNames.h"

class QDBusServiceWatcher;

namespace lumacap {

class AppModel;

// Answers a coding agent's request for a capture (`lumacap mcp`'s
// request_capture), on the instance's bus name at instancebus::agentsPath:
// the caller must be a connection of this user; agents' access must be on;
// one request at a time. The region overlay opens with a banner naming the
// agent, its folder and its reason, and the call is answered (later, never
// waited for) with the saved capture's id once the user selected a region,
// or with an error when the user cancelled, nobody selected anything in
// instancebus::requestTimeoutSeconds, or the caller went away (which closes
// the overlay).
class AgentCaptureRequests final : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.lumacap.Lumacap.Agents")

 public:
  AgentCaptureRequests(QDBusConnection bus, AppModel& model, std::function<bool()> agentsMayRead,
                       QObject* parent = nullptr);
  ~AgentCaptureRequests() override;
  // Exported on the bus; false when the path is taken.
  bool exported() const { return exported_; }

  // The banner's line: "Claude Code asks for a screenshot · ~/src/app — why".
  static QString bannerText(const QString& agent, const QString& folder, const QString& reason);

 public slots:
  Q_SCRIPTABLE QString RequestCapture(const QString& agent, const QString& folder, const QString& reason);

 private:
  QCoro::Task<> answer(QDBusMessage call, QString banner);
  void watchCaller(const QString& caller);
  void withdraw(const char* error);

  QDBusConnection bus_;
  AppModel& model_;
  std::function<bool()> agentsMayRead_;
  bool exported_ = false;
  bool answering_ = false;
  const char* withdrawn_ = nullptr;  // the error the request in hand ends with, once closed
  QTimer timeout_;
  std::unique_ptr<QDBusServiceWatcher> callerWatch_;
};

}  // namespace lumacap
