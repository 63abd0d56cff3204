// The longest time the GUI thread stops serving its events while a desktop
// service Lumacap asks never answers: stand-ins for the portal, GNOME's
// permission store and KWin own their names on a private session bus and are
// stopped (SIGSTOP). Each case makes the request the application makes on the
// GUI thread and runs the event loop until the request is over (its time-out
// included). Counters: longest_stall_ms, and nested_loop (1 when events were
// served from a loop nested inside the request). Target: under 50 ms, no
// nested loop.
//   build/bin/gui_stall_bench

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <memory>
#include <type_traits>

#include "platform/fake/FakeProcessSource.h"
#include "platform/wayland/CompositorWorkspace.h"
#include "platform/wayland/KWinWindowScripts.h"
#include "platform/wayland/PortalHotKeyService.h"
#include "platform/wayland/PortalScreenshotSource.h"
#include "platform/wayland/UnavailableScreenSource.h"
#include "platform/wayland/WindowListScreenSource.h"
#include "support/AwaitTask.h"
#include "support/SessionBus.h"
#include "support/StoppedPeer.h"

namespace {

using namespace std::chrono_literals;
using lumacap::test::GuiStallMeter;
using lumacap::test::processEventsFor;
using lumacap::test::processEventsUntil;

void report(benchmark::State& state, const GuiStallMeter& meter) {
  state.counters["longest_stall_ms"] = static_cast<double>(meter.longest().count());
  state.counters["nested_loop"] = meter.servedFromNestedLoop() ? 1 : 0;
}

// Runs the event loop until an answer that comes later (a future) is in; one that came at once is.
template <typename Answer>
void settle(Answer& answer) {
  if constexpr (requires { answer.isFinished(); })
    processEventsUntil([&] { return answer.isFinished(); }, 90s);
}

// The capture shortcut, at start and from Settings: GlobalShortcuts' CreateSession.
void BM_ShortcutRequestToAStoppedPortal(benchmark::State& state) {
  for (auto _ : state) {
    lumacap::PortalHotKeyService service({});
    const GuiStallMeter meter;
    QTimer::singleShot(0, [&] { (void)service.grab(lumacap::Shortcut::initial()); });
    processEventsFor(12s);  // past the call's time-out
    report(state, meter);
  }
}
BENCHMARK(BM_ShortcutRequestToAStoppedPortal)->Iterations(1)->Unit(benchmark::kMillisecond);

// A capture on GNOME: whether Lumacap may take screenshots, from the portal's permission store.
void BM_PermissionLookupInAStoppedStore(benchmark::State& state) {
  struct : lumacap::PermissionWindow {
    QWindow* show() override { return nullptr; }
    void close() override {}
  } window;
  for (auto _ : state) {
    lumacap::PortalScreenshotSource source(window, lumacap::ScreenshotQuestion::ofPortal());
    const GuiStallMeter meter;
    std::optional<QFuture<bool>> granted;
    bool allowed = false;
    QTimer::singleShot(0, [&] {
      allowed = source.canRecordScreen();
      if (!allowed) granted = source.requestScreenRecording();
    });
    processEventsUntil([&] { return allowed || (granted && granted->isFinished()); }, 90s);
    report(state, meter);
  }
}
BENCHMARK(BM_PermissionLookupInAStoppedStore)->Iterations(1)->Unit(benchmark::kMillisecond);

// A capture on KWin: which display is the user's, and which application is in front.
void BM_CaptureQuestionsToAStoppedKWin(benchmark::State& state) {
  for (auto _ : state) {
    auto list = std::make_shared<lumacap::KWinWindowScripts>();
    lumacap::FakeProcessSource processes;
    lumacap::CompositorWorkspace workspace(list, processes);
    lumacap::WindowListScreenSource source(std::make_unique<lumacap::UnavailableScreenSource>(), list);
    const GuiStallMeter meter;
    bool asked = false;
    decltype(source.activeDisplay()) display;
    QTimer::singleShot(0, [&] {
      display = source.activeDisplay();
      (void)workspace.frontmostApplication();
      asked = true;
    });
    processEventsUntil([&] { return asked; }, 90s);
    settle(display);
    processEventsFor(6s);  // past KWin's time-out, for a listing asked without waiting
    report(state, meter);
  }
}
BENCHMARK(BM_CaptureQuestionsToAStoppedKWin)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (const std::optional<int> status = lumacap::test::runAsBusPeer(argc, argv)) return *status;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The services that never answer, on a bus of their own that this process takes as its session bus.
  lumacap::test::SessionBus bus;
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
  const lumacap::test::StoppedBusPeer portal(bus.address(), "org.freedesktop.portal.Desktop");
  const lumacap::test::StoppedBusPeer store(bus.address(), "org.freedesktop.impl.portal.PermissionStore");
  const lumacap::test::StoppedBusPeer kwin(bus.address(), "org.kde.KWin");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
