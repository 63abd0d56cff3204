#include "support/WaylandTest.h"

#include "support/Subprocess.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string_view>

namespace lumacap::test {
namespace {

struct Started {
  std::unique_ptr<WaylandDesktop> desktop;
  std::string whyNot;
};

std::map<Compositor, Started>& desktops() {
  static std::map<Compositor, Started> started;
  return started;
}

// Stops the shared desktops after the last test, while the test's QApplication still runs.
class StopDesktops : public ::testing::Environment {
 public:
  void TearDown() override { desktops().clear(); }
};

[[maybe_unused]] const auto* const stopDesktops = ::testing::AddGlobalTestEnvironment(new StopDesktops);

}  // namespace

WaylandDesktop* sharedDesktop(Compositor compositor, std::string* whyNot) {
  auto [entry, first] = desktops().try_emplace(compositor);
  if (first) entry->second.desktop = WaylandDesktop::start(compositor, &entry->second.whyNot);
  if (whyNot) *whyNot = entry->second.whyNot;
  return entry->second.desktop.get();
}

QImage WaylandTest::clipboardImage(std::chrono::milliseconds timeout) {
  QImage image;
  waitUntil(
      [&] {
        image = QImage::fromData(desktop().clipboard("image/png"), "PNG");
        return !image.isNull();
      },
      timeout);
  return image.convertToFormat(QImage::Format_RGB32);
}

bool WaylandTest::lumacapOwnsItsBusName() {
  return desktop()
             .run({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                   "org.freedesktop.DBus.NameHasOwner", "string:org.lumacap.Lumacap"})
             .standardOutput.find("true") != std::string::npos;
}

std::string WaylandTest::focusedTitle() {
  for (const DesktopWindow& window : desktop().windows())
    if (window.focused) return window.title;
  return {};
}

std::vector<int> WaylandTest::outputShades() {
  std::vector<int> shades;
  // (KWin and GNOME list the overlay's windows)
  if (GetParam() != Compositor::sway && GetParam() != Compositor::labwc) return shades;
  for (const int x : {0, 1280}) {
    const QImage shown = desktop().reference(QRect(x, 0, 1280, 800));
    shades.push_back(qGray(shown.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0)));
  }
  return shades;
}

std::vector<DesktopWindow> WaylandTest::regionOverlays(const std::vector<int>& before) {
  std::vector<DesktopWindow> found;
  for (const DesktopWindow& window : desktop().windows())
    if (window.title == overlayTitle) found.push_back(window);
  if (!found.empty()) return found;
  const std::vector<int> now = outputShades();
  for (size_t output = 0; output < std::min(now.size(), before.size()); ++output) {
    if (now[output] >= before[output] * 0.85) continue;  // the overlay dims by 30 %
    DesktopWindow& window = found.emplace_back();
    window.title = overlayTitle;
    window.app = "layer-shell";
    window.geometry = QRect(int(output) * 1280, 0, 1280, 800);
  }
  return found;
}

std::string WaylandTest::windowsListed() {
  std::string listing;
  for (const DesktopWindow& window : desktop().windows()) {
    listing += "“" + window.title + "” (" + window.app + ", pid " + std::to_string(window.pid) + ")";
    if (window.focused) listing += " focused";
    if (!window.transientFor.empty()) listing += " attached to “" + window.transientFor + "”";
    listing += "; ";
  }
  return listing;
}

std::unique_ptr<BackgroundProcess> WaylandTest::startProbe() {
  auto probe = desktop().spawn({LUMACAP_WAYLAND_PROBE}, onWayland);
  const bool placed = waitUntil([&] {
    const std::string said = desktop().output(*probe);
    if (said.find("shown", said.find("shown") + 1) == std::string::npos) return false;
    const auto windows = desktop().windows();
    return std::count_if(windows.begin(), windows.end(), [&](const DesktopWindow& window) {
             return (window.pid == probe->pid() || isProbe(window)) &&
                    window.geometry.size() == QSize(1280, 800);
           }) == 2;
  });
  // Listed is not yet shown (sway 1.10 shows a window once its transaction ends): a click that
  // reaches it and gives it the focus is.
  const bool entered = placed && waitUntil([&] {
                         desktop().click(640, 400);
                         const auto windows = desktop().windows();
                         return desktop().output(*probe).find("press 640 400") != std::string::npos &&
                                std::any_of(windows.begin(), windows.end(), [&](const DesktopWindow& window) {
                                  return window.focused && (window.pid == probe->pid() || isProbe(window));
                                });
                       });
  EXPECT_TRUE(entered) << "the probe's windows were not shown: " << windowsListed() << "\n"
                       << desktop().output(*probe);
  return probe;
}

void WaylandTest::closeNoTrayNotice(const BackgroundProcess& lumacap) {
  const auto notice = [&](bool focused) {
    const auto windows = desktop().windows();
    return std::any_of(windows.begin(), windows.end(), [&](const DesktopWindow& window) {
      return window.pid == lumacap.pid() && window.title == "Lumacap" && (window.focused || !focused);
    });
  };
  ASSERT_TRUE(waitUntil([&] { return notice(true); }, 30s))
      << "no notice with the focus: " << windowsListed();
  desktop().key("Escape");
  ASSERT_TRUE(waitUntil([&] { return !notice(false); }, 10s)) << "the notice stayed: " << windowsListed();
}

void WaylandTest::SetUp() {
  std::string whyNot;
  desktop_ = sharedDesktop(GetParam(), &whyNot);
  if (desktop_) return;
  const char* ci = std::getenv("CI");
  if (ci && std::string_view(ci) == "true") FAIL() << "no " << nameOf(GetParam()) << " desktop: " << whyNot;
  GTEST_SKIP() << "no " << nameOf(GetParam()) << " desktop here: " << whyNot;
}

}  // namespace lumacap::test
