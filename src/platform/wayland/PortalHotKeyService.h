#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/HotKeyService.h"
#include "platform/wayland/PortalRequest.h"

namespace lumacap {

// The hot key through org.freedesktop.portal.GlobalShortcuts: one shortcut, "capture-region-…", in a
// session with a fixed token (Plasma 5.27 keeps a session's keys under its token, so a new token
// each start would leave old keys behind). Every grab opens the session anew with the shortcut
// both in CreateSession's options (Plasma 5.27 reads it there) and through BindShortcuts (the
// current portal API); presses arrive as the Activated signal.
class PortalHotKeyService final : public QObject, public HotKeyService {
  Q_OBJECT

 public:
  // Names what a key types with Shift on the user's layout ("at" for the "2" key on US), from
  // the macOS virtual key code; nothing when unknown.
  using ShiftedKeyName = std::function<std::optional<std::string>(uint32_t macKeyCode)>;

  // Nothing is asked of the portal before the first grab (which runs once the application is
  // set up). The portal is the desktop's way only if it accepts a session: Debian 12's portal
  // exports the interface on sway and GNOME 43, where every call fails. After a first refused
  // CreateSession every grab fails with notOnThisDesktop.
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

  // How the desktop describes the key it assigned ("Meta+@"), once it said.
  const std::optional<std::string>& assignedTrigger() const { return assigned_; }

 signals:
  void assignedTriggerChanged();
  // The portal refused the first session: this desktop binds keys some other way.
  void unavailable();

 private slots:
  void activated(const QDBusMessage& message);
  void shortcutsChanged(const QDBusMessage& message);

 private:
  QCoro::Task<> bindWanted();
  // A new session with the shortcut for this trigger, bound: 0 or the failure code.
  QCoro::Task<int> bind(QString trigger);
  QCoro::Task<PortalRequest> request(QString method, QList<QVariant> arguments);
  // Removes from KDE's global shortcuts the ids of Lumacap's earlier shortcuts (in the component
  // holding `bound`), so that the keys they had are free again; nothing where KDE is not there.
  QCoro::Task<> forgetEarlierShortcuts(QString bound);
  static bool refusedCall(const QDBusMessage& reply);
  bool isOurs(const QDBusMessage& message) const;
  void closeSession();
  // Takes the trigger description the desktop gave for our shortcut from a list of shortcuts.
  void takeAssigned(const QVariant& shortcuts);

  ShiftedKeyName shiftedKeyName_;
  QDBusConnection bus_;
  QString session_;
  // What to bind once the exchange under way ends (empty: release); nothing to do.
  std::optional<QString> wanted_;
  bool binding_ = false;
  QString shortcutId_;
  bool accepted_ = false;
  bool unavailable_ = false;
  std::optional<std::string> assigned_;
};

}  // namespace lumacap
