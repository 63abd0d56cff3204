#pragma once

#include <QFuture>
#include <QImage>
#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

namespace lumacap {

// One desktop notification: what org.freedesktop.Notifications shows.
struct DesktopNotification {
  QString summary;
  QString body;
  QImage image;                                      // shown beside the text (image-data)
  std::vector<std::pair<QString, QString>> actions;  // key and label, as buttons
  std::chrono::milliseconds timeout{-1};             // -1: the server's default
  uint32_t replaces = 0;                             // the notification this one replaces, if any
};

// The desktop's notification server.
class DesktopNotifications : public QObject {
  Q_OBJECT
 public:
  // Sends the notification without waiting for the server: the future gives
  // the id of the notification shown, 0 when the server did not answer in
  // time. Called on the GUI thread, whose event loop brings the answer.
  virtual QFuture<uint32_t> notify(const DesktopNotification& notification) = 0;
  virtual void close(uint32_t id) = 0;

 signals:
  void actionInvoked(uint32_t id, const QString& key);
  void closed(uint32_t id);
};

// org.freedesktop.Notifications on the session bus.
class FreedesktopNotifications final : public DesktopNotifications {
  Q_OBJECT
 public:
  FreedesktopNotifications();
  QFuture<uint32_t> notify(const DesktopNotification& notification) override;
  void close(uint32_t id) override;

 private slots:
  void onActionInvoked(uint id, const QString& key);
  void onClosed(uint id, uint reason);
};

}  // namespace lumacap
