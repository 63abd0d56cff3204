#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>

namespace lumacap {

// Tells once that the desktop shows no system tray (GNOME without its
// AppIndicator extension has none), so that Lumacap can say what still works
// instead of running invisibly. A tray that appears within the grace period
// (a panel that starts after Lumacap at login) is no reason to speak.
class TrayAvailability : public QObject {
  Q_OBJECT

 public:
  explicit TrayAvailability(std::chrono::milliseconds grace = std::chrono::seconds(5),
                            QObject* parent = nullptr);

  // Looks for a tray now and, when there is none, again until one appears or
  // the grace period ends. Only the first call counts.
  void start();
  bool isWatching() const { return poll_.isActive(); }

 signals:
  void available();  // a tray is there, at once or once it appears within the grace period
  void unavailable();

 private:
  void check();

  std::chrono::milliseconds grace_;
  QElapsedTimer elapsed_;
  QTimer poll_;
};

}  // namespace lumacap
