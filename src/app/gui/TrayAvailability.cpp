#include "app/gui/TrayAvailability.h"

#include <QSystemTrayIcon>

namespace lumacap {
namespace {

// Each look is one round trip to the X server for the tray selection's owner.
constexpr std::chrono::milliseconds trayPollInterval(250);

}  // namespace

TrayAvailability::TrayAvailability(std::chrono::milliseconds grace, QObject* parent)
    : QObject(parent), grace_(grace) {
  poll_.setInterval(trayPollInterval);
  connect(&poll_, &QTimer::timeout, this, &TrayAvailability::check);
}

void TrayAvailability::start() {
  if (elapsed_.isValid()) return;  // once per run
  elapsed_.start();
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    emit available();
    return;
  }
  poll_.start();
}

void TrayAvailability::check() {
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    poll_.stop();
    emit available();
  } else if (elapsed_.elapsed() >= grace_.count()) {
    poll_.stop();
    emit unavailable();
  }
}

}  // namespace lumacap
