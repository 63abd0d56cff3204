#include "platform/wayland/PortalRequest.h"

#include <QCoroSignal>
#include <QRandomGenerator>
#include <algorithm>
#include <stdexcept>

#include "platform/linux/DBusCall.h"

namespace lumacap {

namespace detail {
void PortalResponse::response(uint responseCode, const QVariantMap& responseResults) {
  answered = true;
  code = responseCode;
  results = responseResults;
  emit done();
}
}  // namespace detail

QString portalRequestPath(const QString& uniqueName, const QString& token) {
  QString sender = uniqueName.startsWith(u':') ? uniqueName.mid(1) : uniqueName;
  sender.replace(u'.', u'_');
  return desktopPortalPath + QStringLiteral("/request/") + sender + u'/' + token;
}

QCoro::Task<PortalRequest> requestFromPortal(QDBusConnection bus, QString interface, QString method,
                                             QList<QVariant> arguments, std::chrono::milliseconds timeout) {
  const QString token = QStringLiteral("lumacap%1").arg(QRandomGenerator::global()->generate());
  const QString requestPath = portalRequestPath(bus.baseService(), token);
  QVariantMap options = arguments.takeLast().toMap();
  options.insert(QStringLiteral("handle_token"), token);
  arguments.append(options);
  const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
  detail::PortalResponse response;
  // Subscribed before the call: the answer may come before the call returns.
  bus.connect(desktopPortalService, requestPath, requestInterface, QStringLiteral("Response"), &response,
              SLOT(response(uint, QVariantMap)));
  QDBusMessage call =
      QDBusMessage::createMethodCall(desktopPortalService, desktopPortalPath, interface, method);
  call.setArguments(arguments);
  const auto asked = std::chrono::steady_clock::now();
  PortalRequest request;
  // The call itself answers at once with the request's handle; only the Response waits for the user.
  request.reply = co_await DBusCall::awaited(bus, call, std::min(timeout, DBusCall::portalCall));
  const auto left = timeout - std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - asked);
  if (!request.callFailed() && !response.answered && left > std::chrono::milliseconds(0))
    co_await qCoro(&response, &detail::PortalResponse::done, left);
  bus.disconnect(desktopPortalService, requestPath, requestInterface, QStringLiteral("Response"), &response,
                 SLOT(response(uint, QVariantMap)));
  request.answered = response.answered;
  request.code = response.code;
  request.results = response.results;
  co_return request;
}

PortalRequest requestFromPortalOnWorker(QDBusConnection bus, const QString& interface, const QString& method,
                                        QList<QVariant> arguments, std::chrono::milliseconds timeout) {
  if (onGuiThread()) throw std::logic_error("A portal request was about to wait on the GUI thread.");
  // The worker's own event loop runs until the request ends, bounded by `timeout`.
  return QCoro::waitFor(requestFromPortal(std::move(bus), interface, method, std::move(arguments), timeout));
}

}  // namespace lumacap
