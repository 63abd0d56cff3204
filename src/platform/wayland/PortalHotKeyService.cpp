#include "platform/wayland/PortalHotKeyService.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QPointer>
#include <cstdio>
#include <utility>

#include "core/DesktopShortcut.h"
#include "platform/linux/DBusCall.h"
#include "platform/wayland/PortalRequest.h"

namespace lumacap {
namespace {

const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString sessionToken = QStringLiteral("lumacap");
// Newer desktops ask the user to confirm a binding.
constexpr auto shortcutsAnswerTimeout = std::chrono::minutes(1);
const QString shortcutIdPrefix = QStringLiteral("capture-region-");

// KDE's global shortcuts service, which keeps what the portal bound.
const QString kdeShortcutsService = QStringLiteral("org.kde.kglobalaccel");
const QString kdeComponentInterface = QStringLiteral("org.kde.kglobalaccel.Component");
constexpr qsizetype kdeComponentsLooked = 200;

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
  return shortcutIdPrefix + trigger.toLower().replace(u'+', u'-');
}

QDBusMessage kdeShortcutsCall(const QString& path, const QString& interface, const QString& method,
                              const QList<QVariant>& arguments = {}) {
  QDBusMessage call = QDBusMessage::createMethodCall(kdeShortcutsService, path, interface, method);
  call.setArguments(arguments);
  call.setAutoStartService(false);  // only where KDE runs it already
  return call;
}

bool answered(const QDBusMessage& reply) {
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
}

PortalShortcuts shortcutsFor(const std::optional<QString>& trigger) {
  if (!trigger) return {};
  return {{shortcutIdFor(*trigger),
           {{QStringLiteral("description"), QStringLiteral("Capture Region")},
            {QStringLiteral("preferred_trigger"), *trigger}}}};
}

}  // namespace

PortalHotKeyService::PortalHotKeyService(ShiftedKeyName shiftedKeyName, QDBusConnection bus)
    : shiftedKeyName_(std::move(shiftedKeyName)), bus_(std::move(bus)) {
  if (!bus_.isConnected()) unavailable_ = true;
  qDBusRegisterMetaType<PortalShortcut>();
  qDBusRegisterMetaType<PortalShortcuts>();
  bus_.connect(desktopPortalService, desktopPortalPath, shortcutsInterface, QStringLiteral("Activated"), this,
               SLOT(activated(QDBusMessage)));
  bus_.connect(desktopPortalService, desktopPortalPath, shortcutsInterface,
               QStringLiteral("ShortcutsChanged"), this, SLOT(shortcutsChanged(QDBusMessage)));
}

PortalHotKeyService::~PortalHotKeyService() { closeSession(); }

QCoro::Task<PortalRequest> PortalHotKeyService::request(QString method, QList<QVariant> arguments) {
  return requestFromPortal(bus_, shortcutsInterface, std::move(method), std::move(arguments),
                           shortcutsAnswerTimeout);
}

// Closing is not waited for: a session closed late binds nothing, and the next one has the same token.
void PortalHotKeyService::closeSession() {
  if (session_.isEmpty()) return;
  DBusCall::sent(bus_, QDBusMessage::createMethodCall(desktopPortalService, session_,
                                                      QStringLiteral("org.freedesktop.portal.Session"),
                                                      QStringLiteral("Close")));
  session_.clear();
}

int PortalHotKeyService::grab(const Shortcut& shortcut) {
  const std::optional<std::string> shifted =
      shortcut.shift && shiftedKeyName_ ? shiftedKeyName_(shortcut.keyCode) : std::nullopt;
  const QString trigger = QString::fromStdString(portalTrigger(shortcut, shifted));
  if (unavailable_) {
    shortcutId_ = shortcutIdFor(trigger);
    return notOnThisDesktop;
  }
  wanted_ = trigger;
  if (!binding_) (void)bindWanted();
  return 0;
}

void PortalHotKeyService::release() {
  wanted_ = QString();
  if (!binding_) (void)bindWanted();
}

// One exchange with the portal at a time: what is asked meanwhile waits, and
// only the last of it is carried out.
QCoro::Task<> PortalHotKeyService::bindWanted() {
  const QPointer<PortalHotKeyService> self(this);
  binding_ = true;
  QString forget;  // the id bound last, whose earlier ones KDE may still keep
  while (wanted_) {
    const QString trigger = *std::exchange(wanted_, std::nullopt);
    const std::optional<std::string> before = assigned_;
    assigned_.reset();
    int status = 0;
    if (trigger.isEmpty()) {
      closeSession();
    } else {
      shortcutId_ = shortcutIdFor(trigger);
      status = co_await bind(trigger);
      if (!self) co_return;
    }
    if (status == notOnThisDesktop) {
      unavailable_ = true;
      emit unavailable();
    }
    if (status != 0) {
      closeSession();
      assigned_.reset();
    }
    if (status == 0 && !trigger.isEmpty())
      std::fprintf(stderr, "lumacap: capture shortcut bound through the GlobalShortcuts portal as %s\n",
                   assigned_ ? assigned_->c_str() : qPrintable(trigger));
    if (assigned_ != before) emit assignedTriggerChanged();
    // A later request replaces this one: its own answer is the one to report.
    if (status != 0 && status != notOnThisDesktop && !wanted_) reportLateFailure(status);
    if (unavailable_) wanted_.reset();
    if (!wanted_ && status == 0 && !trigger.isEmpty()) forget = shortcutId_;
  }
  binding_ = false;
  if (!forget.isEmpty()) (void)forgetEarlierShortcuts(forget);
}

// KDE keeps every shortcut a portal session once bound, under the session's component, also when no
// session binds it any more: the key a changed shortcut replaced stayed taken in KDE's shortcut
// settings, also after Quit. Once a shortcut is bound, Lumacap's other ids in the same component go.
// (The one in force stays when Lumacap quits: KDE keeps a key the user gave it under that id.) Each
// step is awaited off the event loop with a time-out; a change meanwhile ends the clean-up, which
// the next binding does again.
QCoro::Task<> PortalHotKeyService::forgetEarlierShortcuts(QString bound) {
  const QPointer<PortalHotKeyService> self(this);
  const QDBusConnection bus = bus_;
  const auto stillBound = [&] { return self && !self->binding_ && self->shortcutId_ == bound; };
  const QDBusMessage listed = co_await DBusCall::awaited(
      bus,
      kdeShortcutsCall(QStringLiteral("/kglobalaccel"), QStringLiteral("org.kde.KGlobalAccel"),
                       QStringLiteral("allComponents")),
      DBusCall::serviceAnswer);
  if (!stillBound() || !answered(listed)) co_return;
  const auto components = qdbus_cast<QList<QDBusObjectPath>>(listed.arguments().at(0));
  for (const QDBusObjectPath& component : components.mid(0, kdeComponentsLooked)) {
    const QDBusMessage names = co_await DBusCall::awaited(
        bus, kdeShortcutsCall(component.path(), kdeComponentInterface, QStringLiteral("shortcutNames")),
        DBusCall::serviceAnswer);
    if (!stillBound()) co_return;
    if (!answered(names)) continue;
    const QStringList ids = names.arguments().at(0).toStringList();
    if (!ids.contains(bound)) continue;
    // (Arguments as named lists: GCC 12 miscompiles a braced list inside co_await.)
    const QList<QVariant> property{kdeComponentInterface, QStringLiteral("uniqueName")};
    const QDBusMessage get = kdeShortcutsCall(
        component.path(), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), property);
    const QDBusMessage unique = co_await DBusCall::awaited(bus, get, DBusCall::serviceAnswer);
    if (!stillBound() || !answered(unique)) co_return;
    const QString componentName = unique.arguments().at(0).value<QDBusVariant>().variant().toString();
    for (const QString& id : ids) {
      if (id == bound || !id.startsWith(shortcutIdPrefix)) continue;
      const QList<QVariant> shortcut{componentName, id};
      const QDBusMessage unregister =
          kdeShortcutsCall(QStringLiteral("/kglobalaccel"), QStringLiteral("org.kde.KGlobalAccel"),
                           QStringLiteral("unregister"), shortcut);
      co_await DBusCall::awaited(bus, unregister, DBusCall::serviceAnswer);
      if (!stillBound()) co_return;
    }
    co_return;
  }
}

QCoro::Task<int> PortalHotKeyService::bind(QString trigger) {
  const QPointer<PortalHotKeyService> self(this);
  closeSession();
  QVariantMap options{{QStringLiteral("session_handle_token"), sessionToken}};
  options.insert(QStringLiteral("shortcuts"), QVariant::fromValue(shortcutsFor(trigger)));
  // (Arguments as named lists: GCC 12 miscompiles a braced list inside co_await.)
  QList<QVariant> createArguments{options};
  const PortalRequest created = co_await request(QStringLiteral("CreateSession"), createArguments);
  if (!self) co_return noAnswer;
  if (!created.answered && !refusedCall(created.reply)) co_return noAnswer;
  session_ = created.answered && created.code == 0
                 ? created.results.value(QStringLiteral("session_handle")).toString()
                 : QString();
  // Only a session the portal once accepted makes it the desktop's way to bind keys.
  if (session_.isEmpty()) co_return accepted_ ? refusedByDesktop : notOnThisDesktop;
  accepted_ = true;
  takeAssigned(created.results.value(QStringLiteral("shortcuts")));
  QList<QVariant> bindArguments{QVariant::fromValue(QDBusObjectPath(session_)),
                                QVariant::fromValue(shortcutsFor(trigger)), QString(), QVariantMap()};
  const PortalRequest bound = co_await request(QStringLiteral("BindShortcuts"), bindArguments);
  if (!self) co_return noAnswer;
  if (!bound.answered && !refusedCall(bound.reply)) co_return noAnswer;
  if (!bound.answered || bound.code != 0) co_return refusedByDesktop;
  takeAssigned(bound.results.value(QStringLiteral("shortcuts")));
  // A desktop that could not give the key (another program holds it) leaves it unassigned.
  if (assigned_ && assigned_->empty()) co_return refusedByDesktop;
  co_return 0;
}

// A call the portal answered with an error, rather than one that got no answer at all.
bool PortalHotKeyService::refusedCall(const QDBusMessage& reply) {
  const QString error = reply.errorName();
  return reply.type() == QDBusMessage::ErrorMessage &&
         error != QLatin1String("org.freedesktop.DBus.Error.NoReply") &&
         error != QLatin1String("org.freedesktop.DBus.Error.Timeout");
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
