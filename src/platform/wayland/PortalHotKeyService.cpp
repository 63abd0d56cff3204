#include "platform/wayland/PortalHotKeyService.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <cstdio>

#include "core/DesktopShortcut.h"
#include "platform/wayland/DesktopPortal.h"
#include "platform/wayland/PortalScreenshotSource.h"

namespace lumacap {
namespace {

const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString sessionToken = QStringLiteral("lumacap");
// Newer desktops ask the user to confirm a binding.
constexpr int shortcutsAnswerTimeoutMs = 60000;

struct PortalShortcut {
  QString id;
  QVariantMap properties;
};
using PortalShortcuts = QList<PortalShortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
  argument.beginStructure();
  argument << shortcut.id << shortcut.properties;
  argument.endStructure();
  return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
  argument.beginStructure();
  argument >> shortcut.id >> shortcut.properties;
  argument.endStructure();
  return argument;
}

}  // namespace
}  // namespace lumacap

Q_DECLARE_METATYPE(lumacap::PortalShortcut)
Q_DECLARE_METATYPE(lumacap::PortalShortcuts)

namespace lumacap {
namespace {

// The shortcut's id names its trigger: KDE keeps the key a desktop assigned to an id and gives it
// back, not the new preferred one, when the same id is bound again, so a changed shortcut needs an
// id of its own (and a shortcut chosen again finds its old id and key).
QString shortcutIdFor(const QString& trigger) {
  return QStringLiteral("capture-region-") + trigger.toLower().replace(u'+', u'-');
}

PortalShortcuts shortcutsFor(const std::optional<QString>& trigger) {
  if (!trigger) return {};
  return {{shortcutIdFor(*trigger),
           {{QStringLiteral("description"), QStringLiteral("Capture Region")},
            {QStringLiteral("preferred_trigger"), *trigger}}}};
}

PortalRequest request(const QString& method, QList<QVariant> arguments) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  return requestFromPortal(bus, shortcutsInterface, method, std::move(arguments), shortcutsAnswerTimeoutMs);
}

}  // namespace

PortalHotKeyService::PortalHotKeyService(ShiftedKeyName shiftedKeyName)
    : shiftedKeyName_(std::move(shiftedKeyName)) {
  if (!QDBusConnection::sessionBus().isConnected()) unavailable_ = true;
  qDBusRegisterMetaType<PortalShortcut>();
  qDBusRegisterMetaType<PortalShortcuts>();
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.connect(desktopPortalService, desktopPortalPath, shortcutsInterface, QStringLiteral("Activated"), this,
              SLOT(activated(QDBusMessage)));
  bus.connect(desktopPortalService, desktopPortalPath, shortcutsInterface, QStringLiteral("ShortcutsChanged"),
              this, SLOT(shortcutsChanged(QDBusMessage)));
}

PortalHotKeyService::~PortalHotKeyService() { closeSession(); }

std::optional<QVariantMap> PortalHotKeyService::createSession(const std::optional<QString>& trigger) {
  closeSession();
  QVariantMap options{{QStringLiteral("session_handle_token"), sessionToken}};
  if (trigger) options.insert(QStringLiteral("shortcuts"), QVariant::fromValue(shortcutsFor(trigger)));
  const PortalRequest answer = request(QStringLiteral("CreateSession"), {options});
  if (!answer.answered || answer.code != 0) return std::nullopt;
  session_ = answer.results.value(QStringLiteral("session_handle")).toString();
  if (session_.isEmpty()) return std::nullopt;
  return answer.results;
}

void PortalHotKeyService::closeSession() {
  if (session_.isEmpty()) return;
  QDBusConnection::sessionBus().call(
      QDBusMessage::createMethodCall(desktopPortalService, session_,
                                     QStringLiteral("org.freedesktop.portal.Session"),
                                     QStringLiteral("Close")),
      QDBus::Block, 5000);
  session_.clear();
}

int PortalHotKeyService::grab(const Shortcut& shortcut) {
  const std::optional<std::string> shifted =
      shortcut.shift && shiftedKeyName_ ? shiftedKeyName_(shortcut.keyCode) : std::nullopt;
  const QString trigger = QString::fromStdString(portalTrigger(shortcut, shifted));
  shortcutId_ = shortcutIdFor(trigger);
  if (unavailable_) return notOnThisDesktop;
  const std::optional<std::string> before = assigned_;
  assigned_.reset();
  const int status = bind(trigger);
  if (status == notOnThisDesktop) {
    unavailable_ = true;
    emit unavailable();
  }
  if (status != 0) {
    closeSession();
    assigned_.reset();
  }
  if (status == 0)
    std::fprintf(stderr, "lumacap: capture shortcut bound through the GlobalShortcuts portal as %s\n",
                 assigned_ ? assigned_->c_str() : qPrintable(trigger));
  if (assigned_ != before) emit assignedTriggerChanged();
  return status;
}

int PortalHotKeyService::bind(const QString& trigger) {
  const std::optional<QVariantMap> created = createSession(trigger);
  // Only a session the portal once accepted makes it the desktop's way to bind keys.
  if (!created) return accepted_ ? refusedByDesktop : notOnThisDesktop;
  accepted_ = true;
  takeAssigned(created->value(QStringLiteral("shortcuts")));
  const PortalRequest bound = request(QStringLiteral("BindShortcuts"),
                                      {QVariant::fromValue(QDBusObjectPath(session_)),
                                       QVariant::fromValue(shortcutsFor(trigger)), QString(), QVariantMap()});
  if (!bound.answered || bound.code != 0) return refusedByDesktop;
  takeAssigned(bound.results.value(QStringLiteral("shortcuts")));
  // A desktop that could not give the key (another program holds it) leaves it unassigned.
  if (assigned_ && assigned_->empty()) return refusedByDesktop;
  return 0;
}

void PortalHotKeyService::release() {
  closeSession();
  if (assigned_) {
    assigned_.reset();
    emit assignedTriggerChanged();
  }
}

// The session's path comes first in both signals (Activated: the shortcut's id next; ShortcutsChanged:
// the shortcuts).
bool PortalHotKeyService::isOurs(const QDBusMessage& message) const {
  const QList<QVariant> arguments = message.arguments();
  return arguments.size() >= 2 && arguments.at(0).value<QDBusObjectPath>().path() == session_;
}

void PortalHotKeyService::activated(const QDBusMessage& message) {
  if (isOurs(message) && message.arguments().at(1).toString() == shortcutId_) queuePress();
}

void PortalHotKeyService::shortcutsChanged(const QDBusMessage& message) {
  if (!isOurs(message)) return;
  const std::optional<std::string> before = assigned_;
  takeAssigned(message.arguments().at(1));
  if (assigned_ != before) emit assignedTriggerChanged();
}

void PortalHotKeyService::takeAssigned(const QVariant& shortcuts) {
  if (!shortcuts.canConvert<QDBusArgument>()) return;
  const auto list = qdbus_cast<PortalShortcuts>(shortcuts.value<QDBusArgument>());
  for (const PortalShortcut& shortcut : list) {
    if (shortcut.id != shortcutId_) continue;
    assigned_ = shortcut.properties.value(QStringLiteral("trigger_description")).toString().toStdString();
  }
}

}  // namespace lumacap
