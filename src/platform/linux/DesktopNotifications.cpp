#include "platform/linux/DesktopNotifications.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QPromise>
#include <memory>

namespace lumacap {
namespace {

constexpr auto service = "org.freedesktop.Notifications";
constexpr auto path = "/org/freedesktop/Notifications";
constexpr auto interface = "org.freedesktop.Notifications";
// A server that hangs gets this long to answer before the card counts as not shown.
constexpr int notificationCallTimeoutMs = 2000;
// Thumbnails larger than this only cost bus traffic.
constexpr int imageSide = 256;

// The image-data hint: (iiibiiay) width, height, rowstride, has alpha,
// bits per sample, channels, RGBA bytes.
struct ImageData {
  QImage rgba;
};

QDBusArgument& operator<<(QDBusArgument& argument, const ImageData& image) {
  const QImage& rgba = image.rgba;
  argument.beginStructure();
  argument << rgba.width() << rgba.height() << static_cast<int>(rgba.bytesPerLine()) << true << 8 << 4
           << QByteArray(reinterpret_cast<const char*>(rgba.constBits()), rgba.sizeInBytes());
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ImageData&) { return argument; }

}  // namespace
}  // namespace lumacap

Q_DECLARE_METATYPE(lumacap::ImageData)

namespace lumacap {

FreedesktopNotifications::FreedesktopNotifications() {
  qDBusRegisterMetaType<ImageData>();
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.connect(service, path, interface, "ActionInvoked", this, SLOT(onActionInvoked(uint, QString)));
  bus.connect(service, path, interface, "NotificationClosed", this, SLOT(onClosed(uint, uint)));
}

bool FreedesktopNotifications::available() {
  QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  if (!bus) return false;
  return bus->isServiceRegistered(service).value() ||
         bus->activatableServiceNames().value().contains(service);
}

QFuture<uint32_t> FreedesktopNotifications::notify(const DesktopNotification& notification) {
  QStringList actions;
  for (const auto& [key, label] : notification.actions) actions << key << label;
  QVariantMap hints;
  if (!notification.image.isNull()) {
    QImage scaled =
        notification.image.width() > imageSide || notification.image.height() > imageSide
            ? notification.image.scaled(imageSide, imageSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            : notification.image;
    hints.insert("image-data",
                 QVariant::fromValue(ImageData{scaled.convertToFormat(QImage::Format_RGBA8888)}));
  }
  QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, "Notify");
  call << QStringLiteral("Lumacap") << static_cast<uint>(notification.replaces) << QString()
       << notification.summary << notification.body << actions << hints
       << static_cast<int>(notification.timeout.count());
  auto shown = std::make_shared<QPromise<uint32_t>>();
  shown->start();
  auto* answer =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, notificationCallTimeoutMs), this);
  connect(answer, &QDBusPendingCallWatcher::finished, this, [answer, shown] {
    answer->deleteLater();
    const QDBusPendingReply<uint> reply = *answer;
    shown->addResult(reply.isValid() ? reply.value() : 0u);
    shown->finish();
  });
  return shown->future();
}

void FreedesktopNotifications::close(uint32_t id) {
  if (id == 0) return;
  QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, "CloseNotification");
  call << static_cast<uint>(id);
  QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
}

void FreedesktopNotifications::onActionInvoked(uint id, const QString& key) { emit actionInvoked(id, key); }

void FreedesktopNotifications::onClosed(uint id, uint) { emit closed(id); }

}  // namespace lumacap
