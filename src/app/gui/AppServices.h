#pragma once

#include <memory>

namespace lumacap {

struct DesktopBackend;
class AppModel;
struct ViewContext;
class CaptureManager;
class HotKeyManager;
class WindowPresenter;

// The composition root of the application: the one place that picks the real
// services of the desktop (screens, windows, clipboard, hot keys, processes,
// text recognition, the windows' presenter), by what the session offers, and
// builds the long-lived objects on them, in order. The rest of the
// application only sees the services' interfaces.
class AppServices {
 public:
  // Needs the QApplication.
  AppServices();
  ~AppServices();
  AppServices(const AppServices&) = delete;
  AppServices& operator=(const AppServices&) = delete;

  AppModel& model();
  ViewContext& context();
  HotKeyManager& hotKey();
  CaptureManager& captureManager();
  WindowPresenter& windows();
  // What was chosen at start-up (logged once on standard error).
  const DesktopBackend& backend() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace lumacap
