// The window list Capture Window… and the agent's terminal rely on, on the
// headless KWin and sway test desktops with 30 ordinary windows open: the
// time of one listing (a KWin script over D-Bus; sway's IPC get_tree), and of
// one activation. Run as root, like the Wayland tests:
//   build/bin/wayland_windows_bench [--raw] [kwin|sway|gnome]…
// (default KWin and sway; --raw adds the samples as "raw DESKTOP METRIC MS…"
// lines for scripts/desktop-bench-pairs).
#include <QCoreApplication>
#include <cstdio>

#ifdef LUMACAP_WAYLAND_WINDOW
#include <QDBusConnection>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
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

bool raw = false;

// The median of `rounds` runs of `work`; with --raw, every run's time as "raw DESKTOP KEY MS…" too.
template <typename Work>
double medianMs(const std::string& desktop, const char* key, Work work) {
  std::vector<double> samples;
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    work();
    samples.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  if (raw) {
    std::printf("raw %s %s", desktop.c_str(), key);
    for (const double sample : samples) std::printf(" %.2f", sample);
    std::printf("\n");
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

void measure(Compositor compositor) {
  const std::string name = nameOf(compositor);
  if (compositor == Compositor::gnome) {
    std::printf(
        "gnome: not measured (GNOME lists no windows to programs: Capture Window… opens GNOME's own "
        "screenshot dialog)\n");
    return;
  }
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
  double listing = 0, activation = 0, activeOutput = 0;
  // As the session's user (KWin reads the script files, 0600, written here), on a worker thread, as
  // the application asks (KWin's scripts refuse to be awaited on the GUI thread).
  const AsSessionUser asUser(*desktop);
  std::thread([&] {
    listing = medianMs(name, "window-listing", [&] { listed = list->windows().size(); });
    const std::vector<CompositorWindow> all = list->windows();
    size_t next = 0;
    activation = medianMs(name, "window-activation", [&] { list->activate(all[next++ % all.size()]); });
    activeOutput = medianMs(name, "active-output", [&] { list->activeOutputName(); });
  }).join();
  std::printf(
      "%s: %zu windows listed in %.1f ms (median of %d); one activation %.1f ms; the active output %.1f ms\n",
      nameOf(compositor).c_str(), listed, listing, rounds, activation, activeOutput);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  // The harness names the build's Lumacap in KWin's desktop entry, as the tests do.
  ::setenv("LUMACAP_BINARY", LUMACAP_BINARY, 0);
  std::vector<std::string> names(argv + 1, argv + argc);
  raw = std::erase(names, "--raw") > 0;
  if (names.empty()) names = {"kwin", "sway"};
  for (const Compositor compositor : {Compositor::kwin, Compositor::gnome, Compositor::sway})
    if (std::find(names.begin(), names.end(), nameOf(compositor)) != names.end()) measure(compositor);
  return 0;
}
#else
int main() {
  std::fprintf(stderr, "wayland_windows_bench needs the test desktops (build the tests too).\n");
  return 1;
}
#endif
