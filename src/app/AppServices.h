#pragma once

#include <memory>

namespace lumacap {

class AppModel;
class CaptureManager;
class HotKeyManager;
class WindowPresenter;

// The composition root of the application: the one place that picks the real
// services of an X11 desktop (screens, windows, clipboard, hot keys, processes,
// text recognition, the windows' presenter) and builds the long-lived objects on them, in order. The
// rest of the application only sees the services' interfaces.
class AppServices {
 public:
  // Needs the QApplication.
  AppServices();
  ~AppServices();
  AppServices(const AppServices&) = delete;
  AppServices& operator=(const AppServices&) = delete;

  AppModel& model();
  HotKeyManager& hotKey();
  CaptureManager& captureManager();
  WindowPresenter& windows();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace lumacap
