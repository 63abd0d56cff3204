#include "platform/wayland/PortalHotKeyService.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QPointer>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "core/DesktopShortcut.h"
#include "platform/linux/DBusCall.h"
#include "platform/wayland/PortalApplicationId.h"
#include "platform/wayland/PortalRequest.h"

namespace lumacap {
namespace {

const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString sessionToken = QStringLiteral("lumacap");
// Newer desktops ask the user to confirm a binding.
constexpr auto shortcutsAnswerTimeout = std::chrono::minutes(1);
// The region key's kind; every kind is an action ("capture-display"), and the ids of Lumacap's
// keys start with the kind.
const QString regionKind = QStringLiteral("capture-region");
const QString shortcutIdPrefix = QStringLiteral("capture-");

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
QString shortcutIdFor(const QString& kind, const QString& trigger) {
  return kind + u'-' + QString(trigger).toLower().replace(u'+', u'-');
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

// GNOME describes the key it assigned with GTK's accelerator inside a sentence ("Press <Alt><Super>3",
// in the user's language): the menu names it as keys are named elsewhere ("Alt+Super+3"). A
// description without one (KDE's "Meta+@") stays as it is.
std::string assignedKeyName(const QString& description) {
  static const QRegularExpression accelerator(QStringLiteral("((?:<\\w+>)+)([^\\s<>]+)"));
  static const QRegularExpression modifier(QStringLiteral("<(\\w+)>"));
  const QRegularExpressionMatch match = accelerator.match(description);
  if (!match.hasMatch()) return description.toStdString();
  QStringList keys;
  for (auto each = modifier.globalMatch(match.captured(1)); each.hasNext();) {
    const QString name = each.next().captured(1).toLower();
    keys << (name == u"control" || name == u"ctrl" || name == u"primary"
                 ? QStringLiteral("Ctrl")
                 : name.left(1).toUpper() + name.mid(1));
  }
  const QString key = match.captured(2);
  keys << (key.size() == 1 ? key.toUpper() : key);
  return keys.join(u'+').toStdString();
}

// Whether the portal's list of shortcuts holds one of these ids with a key assigned.
bool listsAKeyOf(const QVariant& shortcuts, const std::map<QString, QString>& ids) {
  if (!shortcuts.canConvert<QDBusArgument>()) return false;
  const auto list = qdbus_cast<PortalShortcuts>(shortcuts.value<QDBusArgument>());
  return std::any_of(list.begin(), list.end(), [&](const PortalShortcut& shortcut) {
    return !shortcut.properties.value(QStringLiteral("trigger_description")).toString().isEmpty() &&
           std::any_of(ids.begin(), ids.end(), [&](const auto& id) { return id.second == shortcut.id; });
  });
}

}  // namespace

// Another kind's key: its grabs and releases change the set of keys the service binds.
class PortalHotKeyService::Key final : public HotKeyService {
 public:
  Key(PortalHotKeyService& owner, QString kind, QString description)
      : owner_(&owner), kind_(std::move(kind)), description_(std::move(description)) {
    owner.holders_[kind_] = {[this] { queuePress(); }, [this](int status) { reportLateFailure(status); }};
  }
  ~Key() override {
    if (!owner_) return;
    owner_->holders_.erase(kind_);
    release();
  }
  int grab(const Shortcut& shortcut) override {
    return owner_ ? owner_->want(kind_, description_, owner_->triggerOf(shortcut)) : notOnThisDesktop;
  }
  void release() override {
    if (owner_) owner_->want(kind_, description_, QString());
  }

 private:
  QPointer<PortalHotKeyService> owner_;
  QString kind_, description_;
};

PortalHotKeyService::PortalHotKeyService(ShiftedKeyName shiftedKeyName, QDBusConnection bus)
    : shiftedKeyName_(std::move(shiftedKeyName)), bus_(std::move(bus)) {
  if (!bus_.isConnected()) unavailable_ = true;
  holders_[regionKind] = {[this] { queuePress(); }, [this](int status) { reportLateFailure(status); }};
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

std::unique_ptr<HotKeyService> PortalHotKeyService::keyFor(const QString& kind, const QString& description) {
  return std::make_unique<Key>(*this, kind, description);
}

QString PortalHotKeyService::triggerOf(const Shortcut& shortcut) const {
  const std::optional<std::string> shifted =
      shortcut.shift && shiftedKeyName_ ? shiftedKeyName_(shortcut.keyCode) : std::nullopt;
  return QString::fromStdString(portalTrigger(shortcut, shifted));
}

int PortalHotKeyService::grab(const Shortcut& shortcut) {
  return want(regionKind, QStringLiteral("Capture Region"), triggerOf(shortcut));
}

void PortalHotKeyService::release() { want(regionKind, QString(), QString()); }

// Changes asked in one turn of the event loop (the keys registered at start) go in one exchange.
int PortalHotKeyService::want(const QString& kind, const QString& description, const QString& trigger) {
  if (unavailable_) return trigger.isEmpty() ? 0 : notOnThisDesktop;
  if (trigger.isEmpty()) {
    if (wanted_.erase(kind) == 0 && !shortcutIds_.contains(kind)) return 0;
  } else {
    wanted_[kind] = {description, trigger};
  }
  changed_ = true;
  if (!binding_) {
    binding_ = true;
    QMetaObject::invokeMethod(
        this, [this] { (void)bindWanted(); }, Qt::QueuedConnection);
  }
  return 0;
}

// One exchange with the portal at a time: what is asked meanwhile waits, and
// only the last of it is carried out.
QCoro::Task<> PortalHotKeyService::bindWanted() {
  const QPointer<PortalHotKeyService> self(this);
  QStringList forget;  // the ids bound last, whose earlier ones KDE may still keep
  while (changed_) {
    changed_ = false;
    const WantedKeys keys = wanted_;
    const std::optional<std::string> before = assigned_;
    assigned_.reset();
    assignedById_.clear();
    shortcutIds_.clear();
    for (const auto& [kind, key] : keys) shortcutIds_[kind] = shortcutIdFor(kind, key.trigger);
    std::vector<QString> refused;
    int status = 0;
    if (keys.empty()) {
      closeSession();
    } else {
      status = co_await bind(keys, &refused);
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
    for (const auto& [kind, key] : keys) {
      if (status != 0 || std::find(refused.begin(), refused.end(), kind) != refused.end()) continue;
      const auto assigned = assignedById_.find(shortcutIds_[kind]);
      std::fprintf(
          stderr, "lumacap: %s bound through the GlobalShortcuts portal as %s\n",
          kind == regionKind ? "capture shortcut" : qPrintable(key.description + QStringLiteral(" key")),
          assigned != assignedById_.end() ? assigned->second.c_str() : qPrintable(key.trigger));
    }
    if (assigned_ != before) emit assignedTriggerChanged();
    // A later request replaces this one: its own answer is the one to report. The keys refused
    // are no longer wanted (their holders may ask for the ones before them).
    std::vector<std::pair<QString, int>> failures;
    if (!changed_ && status != 0 && status != notOnThisDesktop)
      for (const auto& [kind, key] : keys) failures.emplace_back(kind, status);
    if (!changed_ && status == 0)
      for (const QString& kind : refused) failures.emplace_back(kind, refusedByDesktop);
    for (const auto& [kind, code] : failures) wanted_.erase(kind);
    if (unavailable_) {
      wanted_.clear();
      changed_ = false;
    }
    if (!changed_ && status == 0)
      for (const auto& [kind, id] : shortcutIds_) forget.push_back(id);
    for (const auto& [kind, code] : failures) {
      const auto holder = holders_.find(kind);
      if (holder == holders_.end()) continue;
      const std::function<void(int)> fail = holder->second.fail;
      fail(code);
      if (!self) co_return;
    }
    if (changed_) forget.clear();
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
QCoro::Task<> PortalHotKeyService::forgetEarlierShortcuts(QStringList bound) {
  const QPointer<PortalHotKeyService> self(this);
  const QDBusConnection bus = bus_;
  const auto stillBound = [&] {
    if (!self || self->binding_ || qsizetype(self->shortcutIds_.size()) != bound.size()) return false;
    for (const auto& [kind, id] : self->shortcutIds_)
      if (!bound.contains(id)) return false;
    return true;
  };
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
    if (!ids.contains(bound.front())) continue;
    // (Arguments as named lists: GCC 12 miscompiles a braced list inside co_await.)
    const QList<QVariant> property{kdeComponentInterface, QStringLiteral("uniqueName")};
    const QDBusMessage get = kdeShortcutsCall(
        component.path(), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), property);
    const QDBusMessage unique = co_await DBusCall::awaited(bus, get, DBusCall::serviceAnswer);
    if (!stillBound() || !answered(unique)) co_return;
    const QString componentName = unique.arguments().at(0).value<QDBusVariant>().variant().toString();
    for (const QString& id : ids) {
      if (bound.contains(id) || !id.startsWith(shortcutIdPrefix)) continue;
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

QVariant PortalHotKeyService::shortcutsFor(const WantedKeys& keys) {
  PortalShortcuts shortcuts;
  for (const auto& [kind, key] : keys)
    shortcuts.push_back({shortcutIdFor(kind, key.trigger),
                         {{QStringLiteral("description"), key.description},
                          {QStringLiteral("preferred_trigger"), key.trigger}}});
  return QVariant::fromValue(shortcuts);
}

QCoro::Task<int> PortalHotKeyService::bind(WantedKeys keys, std::vector<QString>* refused) {
  const QPointer<PortalHotKeyService> self(this);
  closeSession();
  // Lumacap's id first, before anything else is asked on this connection.
  if (!registrationAsked_) {
    registrationAsked_ = true;
    const bool registered = co_await registerWithPortal(bus_);
    if (!self) co_return noAnswer;
    registered_ = registered;
  }
  QVariantMap options{{QStringLiteral("session_handle_token"), sessionToken}};
  const QVariant shortcuts = shortcutsFor(keys);
  options.insert(QStringLiteral("shortcuts"), shortcuts);
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
  QList<QVariant> bindArguments{QVariant::fromValue(QDBusObjectPath(session_)), shortcuts, QString(),
                                QVariantMap()};
  const PortalRequest bound = co_await request(QStringLiteral("BindShortcuts"), bindArguments);
  if (!self) co_return noAnswer;
  if (!bound.answered && !refusedCall(bound.reply)) co_return noAnswer;
  // GNOME 48's portal answers 2 also once the user added the keys in GNOME Settings and the shell
  // grabbed them: the keys it lists in its answer are bound (it names them in ShortcutsChanged too).
  // (An answer of 2 that lists no key of ours, as a cancelled dialog's, is a refusal.)
  const bool listsBound = bound.answered && bound.code == 2 && registered_ &&
                          listsAKeyOf(bound.results.value(QStringLiteral("shortcuts")), shortcutIds_);
  if (!bound.answered || (bound.code != 0 && !listsBound)) {
    // GNOME 48 binds keys only for a program the portal knows by its id, and refuses the others
    // at once: for Lumacap run from its build folder the desktop's own key binding is the way.
    if (!registered_ && !bound_ && bound.answered && bound.code == 2) co_return notOnThisDesktop;
    co_return refusedByDesktop;
  }
  bound_ = true;
  takeAssigned(bound.results.value(QStringLiteral("shortcuts")));
  // A desktop that could not give a key (another program holds it) leaves it unassigned.
  for (const auto& [kind, id] : shortcutIds_) {
    const auto assigned = assignedById_.find(id);
    if (assigned != assignedById_.end() && assigned->second.empty()) refused->push_back(kind);
  }
  if (assigned_ && assigned_->empty()) assigned_.reset();
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
  if (!isOurs(message)) return;
  const QString id = message.arguments().at(1).toString();
  for (const auto& [kind, bound] : shortcutIds_) {
    const auto holder = holders_.find(kind);
    if (bound == id && holder != holders_.end()) holder->second.press();
  }
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
  const auto region = shortcutIds_.find(regionKind);
  for (const PortalShortcut& shortcut : list) {
    const std::string trigger =
        assignedKeyName(shortcut.properties.value(QStringLiteral("trigger_description")).toString());
    assignedById_[shortcut.id] = trigger;
    if (region != shortcutIds_.end() && shortcut.id == region->second) assigned_ = trigger;
  }
}

}  // namespace lumacap
