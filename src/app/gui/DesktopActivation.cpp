#include "app/gui/DesktopActivation.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantList>
#include <QVariantMap>
#include <chrono>
#include <cstdio>

#include "app/cli/CommandLine.h"
#include "platform/linux/DBusCall.h"

namespace lumacap {

// The org.freedesktop.Application interface (instancebus::interfaceName),
// exported for DesktopActivation.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

 public:
  explicit ApplicationAdaptor(DesktopActivation* activation)
      : QDBusAbstractAdaptor(activation), activation_(activation) {}

 public slots:
  void Activate(const QVariantMap& platformData) {
    lendActivationToken(platformData);
    activation_->activate();
  }
  // Lumacap opens no documents: opening one activates it.
  void Open(const QStringList& uris, const QVariantMap& platformData) {
    Q_UNUSED(uris);
    Q_UNUSED(platformData);
    activation_->activate();
  }
  // The parameter may carry the seconds of a countdown (`--delay`); anything
  // else there is ignored.
  void ActivateAction(const QString& name, const QVariantList& parameter, const QVariantMap& platformData) {
    lendActivationToken(platformData);
    QVariant first = parameter.value(0);
    if (first.metaType() == QMetaType::fromType<QDBusVariant>())
      first = first.value<QDBusVariant>().variant();
    const int delay = first.metaType() == QMetaType::fromType<int>() ? first.toInt() : 0;
    activation_->activateAction(name, delay >= 1 && delay <= CommandLine::maximumDelay ? delay : 0);
  }

 private:
  // The token the desktop gave the command that asked (its shortcut or
  // launcher): the next window of ours that asks for the focus presents it,
  // as Qt's Wayland windows do with this variable.
  static void lendActivationToken(const QVariantMap& platformData) {
    const QString token = platformData.value(QStringLiteral("activation-token")).toString();
    if (!token.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
  }

  DesktopActivation* activation_;
};

const QStringList DesktopActivation::actions = [] {
  QStringList names;
  for (const std::string_view name : CommandLine::actions) names << QString::fromLatin1(name);
  return names;
}();

DesktopActivation::DesktopActivation(QObject* parent)
    : DesktopActivation(QDBusConnection::sessionBus(), parent) {}

DesktopActivation::DesktopActivation(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus) {
  new ApplicationAdaptor(this);
}

DesktopActivation::~DesktopActivation() {
  if (!exported_) return;
  bus_.unregisterService(serviceName);
  bus_.unregisterObject(objectPath);
}

DesktopActivation::Claim DesktopActivation::claim(const QString& action, int delay) {
  if (!bus_.isConnected()) {
    runOwnAction(action, delay);
    return Claim::noBus;
  }
  // The object is in place before the name is taken, so that a call the bus
  // queued while starting us (D-Bus activation) finds it.
  if (!exported_) exported_ = bus_.registerObject(objectPath, this);
  // Two tries: an instance that is just quitting gives the name up between
  // them. Both together wait no longer than one answer's time-out.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(instancebus::answerTimeoutMs);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (bus_.registerService(serviceName)) {
      runOwnAction(action, delay);
      return Claim::primary;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() > 0 && handOver(action, delay, left)) {
      bus_.unregisterObject(objectPath);
      exported_ = false;
      return Claim::handedOver;
    }
  }
  std::fputs("Lumacap: the running Lumacap does not answer; starting another one.\n", stderr);
  bus_.unregisterObject(objectPath);
  exported_ = false;
  runOwnAction(action, delay);
  return Claim::noBus;
}

bool DesktopActivation::handOver(const QString& action, int delay, std::chrono::milliseconds timeout) {
  const bool plain = !actions.contains(action);
  QDBusMessage message = QDBusMessage::createMethodCall(serviceName, objectPath, instancebus::interfaceName,
                                                        plain ? "Activate" : "ActivateAction");
  if (plain) {
    message << QVariantMap();
  } else {
    message << action << (delay > 0 ? QVariantList{delay} : QVariantList()) << QVariantMap();
  }
  // Not starting a service: when the owner has just gone, the next try takes the name.
  message.setAutoStartService(false);
  // Asked at start, before this process has a window or runs its event loop
  // (DBusCall::waited refuses once it runs): it waits for the answer, no
  // longer than `timeout` (a running instance that does not answer in it is
  // taken to be stuck, and this process runs on its own), running nothing
  // meanwhile.
  const QDBusMessage reply = DBusCall::waited(bus_, message, timeout);
  return reply.type() == QDBusMessage::ReplyMessage;
}

void DesktopActivation::runOwnAction(const QString& action, int delay) {
  if (!actions.contains(action)) return;
  QMetaObject::invokeMethod(
      this, [this, action, delay] { emit actionRequested(action, delay); }, Qt::QueuedConnection);
}

void DesktopActivation::activate() { emit activated(); }

void DesktopActivation::activateAction(const QString& name, int delay) {
  if (actions.contains(name)) emit actionRequested(name, delay);
}

namespace {
// The same reading as the executable's, which let these arguments through.
CommandLine commandLineOf(const QStringList& arguments) {
  std::vector<std::string> words;
  for (qsizetype i = 1; i < arguments.size(); ++i) words.push_back(arguments[i].toStdString());
  return CommandLine::parse(std::vector<std::string_view>(words.begin(), words.end()));
}
}  // namespace

QString DesktopActivation::actionFromArguments(const QStringList& arguments) {
  const CommandLine line = commandLineOf(arguments);
  return line.role == CommandLine::Role::application ? QString::fromStdString(line.action) : QString();
}

int DesktopActivation::delayFromArguments(const QStringList& arguments) {
  const CommandLine line = commandLineOf(arguments);
  return line.role == CommandLine::Role::application ? line.delay : 0;
}

}  // namespace lumacap

#include "DesktopActivation.moc"
