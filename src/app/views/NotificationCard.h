#pragma once

#include <QObject>
#include <cstdint>
#include <memory>

#include "app/views/CardPresenter.h"

namespace lumacap {

class AppModel;
class DesktopNotifications;

// The card as a desktop notification, where no surface of ours may float
// above the windows without taking the focus (GNOME): the card's title and
// hint with the thumbnail, and its Edit and Save as actions. It goes when
// the model dismisses the card, and follows the model while it is up.
class NotificationCard final : public QObject, public CaptureCard {
 public:
  NotificationCard(AppModel& model, std::unique_ptr<DesktopNotifications> notifications);
  ~NotificationCard() override;

  void show(QScreen* screen) override;
  void hide() override;
  bool shown() const override { return showing_; }

 private:
  void notify();
  void invoked(uint32_t id, const QString& key);

  AppModel& model_;
  std::unique_ptr<DesktopNotifications> notifications_;
  // The notification shown, once the server said its id.
  uint32_t id_ = 0;
  bool showing_ = false;
  // The latest request to the server, and the notification it replaces: an answer to an
  // earlier request, or one that comes after the card was hidden, is closed.
  uint64_t request_ = 0;
  uint32_t replacing_ = 0;
};

}  // namespace lumacap
