#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <chrono>

namespace lumacap {

// Where xdg-desktop-portal's front end answers on the session bus.
inline const QString desktopPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString desktopPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");

// The object path of the Request a portal call with this handle token
// answers on, for the connection with this unique name (":1.42").
QString portalRequestPath(const QString& uniqueName, const QString& token);

// What one portal request came to: the call's reply (an error message when
// the portal refused the call itself) and its Response, if one came in time.
struct PortalRequest {
  QDBusMessage reply;
  bool answered = false;
  uint code = 2;  // 0: success; 1: cancelled by the user; 2: refused or failed
  QVariantMap results;
  // Whether the call itself failed (no such interface, no back end, no bus).
  bool callFailed() const { return reply.type() == QDBusMessage::ErrorMessage; }
};
// One request to the desktop portal: `method` of `interface` with a fresh
// handle token added to its options (the last argument), then the request's
// Response signal, awaited up to `timeout` in all (the call itself, which
// answers at once with the request's handle, for DBusCall::portalCall at
// most). Never blocks: a portal that does not answer leaves `answered` false,
// or the reply an error.
QCoro::Task<PortalRequest> requestFromPortal(QDBusConnection bus, QString interface, QString method,
                                             QList<QVariant> arguments, std::chrono::milliseconds timeout);
// The same request on a worker thread, which it holds until the request ends
// (throws std::logic_error on the GUI thread).
PortalRequest requestFromPortalOnWorker(QDBusConnection bus, const QString& interface, const QString& method,
                                        QList<QVariant> arguments, std::chrono::milliseconds timeout);

namespace detail {
// Receives one portal Response in the thread that waits for it.
class PortalResponse final : public QObject {
  Q_OBJECT
 public:
  bool answered = false;
  uint code = 2;
  QVariantMap results;
 public slots:
  void response(uint code, const QVariantMap& results);
 signals:
  void done();
};
}  // namespace detail

}  // namespace lumacap
