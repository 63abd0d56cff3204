// The window list Capture Window… and the agent's terminal rely on, on the
// headless KWin and sway test desktops with 30 ordinary windows open: the
// time of one listing (a KWin script over D-Bus; sway's IPC get_tree), and of
// one activation. Run as root, like the Wayland tests:
//   build/bin/wayland_windows_bench
#include <QCoreApplication>
#include <cstdio>

#ifdef LUMACAP_WAYLAND_WINDOW
#include <QDBusConnection>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/wayland/KWinWindowScripts.h"
#include "platform/wayland/SwayWindowList.h"
#include "support/Subprocess.h"
#include "support/WaylandDesktop.h"

namespace {

using namespace lumacap;
using namespace lumacap::test;

constexpr int windowCount = 30;
constexpr int rounds = 20;

template <typename Work>
double medianMs(Work work) {
  std::vector<double> samples;
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    work();
    samples.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

void measure(Compositor compositor) {
  std::string whyNot;
  const auto desktop = WaylandDesktop::start(compositor, &whyNot);
  if (!desktop) {
    std::printf("%s: not measured (%s)\n", nameOf(compositor).c_str(), whyNot.c_str());
    return;
  }
  std::vector<std::unique_ptr<BackgroundProcess>> windows;
  for (int each = 0; each < windowCount; ++each)
    windows.push_back(desktop->spawn(
        {LUMACAP_WAYLAND_WINDOW, "window " + std::to_string(each), std::to_string(each), "300", "200"}));
  waitUntil([&] { return desktop->windows().size() >= windowCount; }, 60s);

  const auto environment = desktop->environment();
  std::unique_ptr<CompositorWindowList> list;
  if (compositor == Compositor::sway) {
    list = std::make_unique<SwayWindowList>(environment.at("SWAYSOCK"), environment.at("XDG_RUNTIME_DIR"),
                                            IpcBounds{.user = desktop->user()});
  } else {
    list = std::make_unique<KWinWindowScripts>(QDBusConnection::connectToBus(
        QString::fromStdString(environment.at("DBUS_SESSION_BUS_ADDRESS")), "lumacap-windows-bench"));
  }
  size_t listed = 0;
  const double listing = medianMs([&] { listed = list->windows().size(); });
  const std::vector<CompositorWindow> all = list->windows();
  size_t next = 0;
  const double activation = medianMs([&] { list->activate(all[next++ % all.size()]); });
  const double activeOutput = medianMs([&] { list->activeOutputName(); });
  std::printf(
      "%s: %zu windows listed in %.1f ms (median of %d); one activation %.1f ms; the active output %.1f ms\n",
      nameOf(compositor).c_str(), listed, listing, rounds, activation, activeOutput);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  for (const Compositor compositor : {Compositor::kwin, Compositor::sway}) measure(compositor);
  return 0;
}
#else
int main() {
  std::fprintf(stderr, "wayland_windows_bench needs the test desktops (build the tests too).\n");
  return 1;
}
#endif
