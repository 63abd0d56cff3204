#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "support/WaylandDesktop.h"

namespace lumacap::test {

// The region overlay's window title, by which the tests find it.
inline const std::string overlayTitle = "Select Region — Esc to Cancel";
// Lumacap's windows on the desktop's own Wayland connection.
inline const std::map<std::string, std::string> onWayland{{"QT_QPA_PLATFORM", "wayland"}};

// Tests on a real Wayland desktop, run once per compositor: instantiate with
//   INSTANTIATE_TEST_SUITE_P(Wayland, MyTest, waylandCompositors(), compositorName);
// Each test program process starts one desktop per compositor, shared by its tests, and stops it
// at the end (CTest runs the tests of each compositor in one process: wayland:kwin, …).
class WaylandTest : public ::testing::TestWithParam<Compositor> {
 protected:
  // Skips the test when the desktop cannot run here; fails it under CI=true.
  void SetUp() override;
  WaylandDesktop& desktop() { return *desktop_; }
  // The PNG on the clipboard once there is one, as RGB32; null when none came in `timeout`.
  QImage clipboardImage(std::chrono::milliseconds timeout);
  // Whether the running Lumacap has claimed its name on the session bus (it
  // does so before its tray and services are up).
  bool lumacapOwnsItsBusName();
  // The title of the window with the keyboard focus; empty when none has it.
  std::string focusedTitle();
  // The windows as the desktop lists them, for failure messages.
  std::string windowsListed();
  // The region overlay's windows as the desktop lists them. A layer-shell surface is in no
  // list (sway's, labwc's): there one per output whose picture is darker than `before` (outputShades()
  // before the overlay opened), its app "layer-shell".
  std::vector<DesktopWindow> regionOverlays(const std::vector<int>& before);
  std::vector<int> outputShades();  // each output's mean grey on sway and labwc; nothing elsewhere
  // The harness's probe (a full-screen window on each output, reporting its input), once the
  // desktop has placed both and a click on the first reached it and gave it the focus: a click
  // sent before it is shown finds no window (sway 1.10 then focuses the empty workspace).
  std::unique_ptr<BackgroundProcess> startProbe();
  // Lumacap's notice that the desktop shows no tray, which comes up with the focus a few seconds after
  // its start (later on a loaded machine, where it took the keyboard from an overlay or the user's
  // window in the middle of a test), closed with Escape as the user would.
  void closeNoTrayNotice(const BackgroundProcess& lumacap);
  static bool isProbe(const DesktopWindow& window) {
    return window.app.find("wayland-probe") != std::string::npos;
  }

 private:
  WaylandDesktop* desktop_ = nullptr;
};

inline auto waylandCompositors() {
  return ::testing::Values(Compositor::kwin, Compositor::gnome, Compositor::sway, Compositor::labwc);
}
inline std::string compositorName(const ::testing::TestParamInfo<Compositor>& info) {
  return nameOf(info.param);
}

// Skips a test that needs the screen's pixels where the desktop gives none, saying why.
#define LUMACAP_SKIP_WITHOUT_SCREENSHOTS() \
  if (!desktop().noScreenshots().empty()) GTEST_SKIP() << desktop().noScreenshots()

// The shared desktop of a compositor (started on first use), or null with the reason.
WaylandDesktop* sharedDesktop(Compositor compositor, std::string* whyNot);

}  // namespace lumacap::test
