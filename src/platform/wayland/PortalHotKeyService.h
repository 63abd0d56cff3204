#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/HotKeyService.h"
#include "platform/wayland/PortalRequest.h"

namespace lumacap {

// The hot keys through org.freedesktop.portal.GlobalShortcuts, in one session with a fixed token
// (Plasma 5.27 keeps a session's keys under its token, so a new token each start would leave old
// keys behind). This service is the region key ("capture-region-…"); keyFor() makes the key of
// another kind of capture, each with ids of its own ("capture-display-…"). Every change opens the
// session anew with every key set, both in CreateSession's options (Plasma 5.27 reads them there)
// and through one BindShortcuts (the current portal API); presses arrive as the Activated signal.
class PortalHotKeyService final : public QObject, public HotKeyService {
  Q_OBJECT

 public:
  // Names what a key types with Shift on the user's layout ("at" for the "2" key on US), from
  // the macOS virtual key code; nothing when unknown.
  using ShiftedKeyName = std::function<std::optional<std::string>(uint32_t macKeyCode)>;

  // Nothing is asked of the portal before the first grab (which runs once the application is
  // set up). The portal is the desktop's way only if it accepts a session: Debian 12's portal
  // exports the interface on sway and GNOME 43, where every call fails; GNOME 48's accepts a
  // session but binds nothing for a program the portal knows no id of (see PortalApplicationId),
  // refusing its first BindShortcuts at once. After either, every grab fails with notOnThisDesktop.
  // Asks the portal on this bus (the session bus unless a test gives another).
  explicit PortalHotKeyService(ShiftedKeyName shiftedKeyName,
                               QDBusConnection bus = QDBusConnection::sessionBus());
  ~PortalHotKeyService() override;

  // Returns at once: the exchange with the portal runs on the event loop, one
  // at a time, a grab or release made meanwhile replacing any that waits
  // (the last one asked is carried out). A refusal, or no answer within the
  // time-outs (ten seconds for each call, a minute for the user to confirm),
  // goes to the failure handler.
  int grab(const Shortcut& shortcut) override;
  void release() override;

  // How the desktop describes the region key it assigned ("Meta+@"), once it said.
  const std::optional<std::string>& assignedTrigger() const { return assigned_; }

  // The key of another kind of capture, bound in the same session: `kind` is the action it runs
  // ("capture-display"), the start of its ids; `description` what the desktop lists it as.
  // It must go before this service.
  std::unique_ptr<HotKeyService> keyFor(const QString& kind, const QString& description);

 signals:
  void assignedTriggerChanged();
  // The portal refused the first session: this desktop binds keys some other way.
  void unavailable();

 private slots:
  void activated(const QDBusMessage& message);
  void shortcutsChanged(const QDBusMessage& message);

 private:
  class Key;
  // One key as it is wanted: what the desktop lists it as, and its trigger.
  struct Wanted {
    QString description;
    QString trigger;
  };
  using WantedKeys = std::map<QString, Wanted>;  // by kind
  // What a key of this kind does: its presses and its late failures.
  struct Holder {
    std::function<void()> press;
    std::function<void(int)> fail;
  };

  // Asks for the key of `kind` to be this trigger (empty: none); the status grab returns.
  int want(const QString& kind, const QString& description, const QString& trigger);
  QString triggerOf(const Shortcut& shortcut) const;
  // The keys as the portal's list of shortcuts.
  static QVariant shortcutsFor(const WantedKeys& keys);
  QCoro::Task<> bindWanted();
  // A new session with these keys, bound: 0 or the failure code; the kinds whose key the desktop
  // could not give go to `refused`.
  QCoro::Task<int> bind(WantedKeys keys, std::vector<QString>* refused);
  QCoro::Task<PortalRequest> request(QString method, QList<QVariant> arguments);
  // Removes from KDE's global shortcuts the ids of Lumacap's earlier shortcuts (in the component
  // holding those `bound`), so that the keys they had are free again; nothing where KDE is not there.
  QCoro::Task<> forgetEarlierShortcuts(QStringList bound);
  static bool refusedCall(const QDBusMessage& reply);
  bool isOurs(const QDBusMessage& message) const;
  void closeSession();
  // Takes the trigger descriptions the desktop gave for our shortcuts from a list of shortcuts.
  void takeAssigned(const QVariant& shortcuts);

  ShiftedKeyName shiftedKeyName_;
  QDBusConnection bus_;
  QString session_;
  // Every key as it is wanted now; whether that differs from what the exchange under way binds.
  WantedKeys wanted_;
  bool changed_ = false;
  bool binding_ = false;
  std::map<QString, Holder> holders_;       // by kind
  std::map<QString, QString> shortcutIds_;  // the id each kind's key is bound as, by kind
  std::map<QString, std::string> assignedById_;
  bool accepted_ = false;
  bool bound_ = false;  // once a BindShortcuts succeeded
  // Whether Lumacap named its application id to the portal (asked before the first session).
  bool registrationAsked_ = false;
  bool registered_ = false;
  bool unavailable_ = false;
  std::optional<std::string> assigned_;  // the region key's
};

}  // namespace lumacap
