// Display capture inside the Wayland session of $WAYLAND_DISPLAY (run it
// through scripts/wayland-capture-bench, which starts each headless desktop
// and runs the desktop's own tool beside it).
//
//   BM_OutputImage        one whole output through the source the session
//                         offers (ScreenShot2, screencopy or the portal)
//   BM_DisplayCapture     CaptureManager::display, as the application calls it:
//                         from the request until the capture is in hand
//   BM_OverlayMapped      CaptureManager::region from the request until every
//                         output's overlay window is on the screen (then
//                         cancelled)
//
// Run outside a Wayland session (`wayland_capture_bench --desktops`), it
// starts each headless test desktop in turn, runs itself inside it, and
// times the desktop's own capture tool beside it (grim on sway; spectacle on
// KWin where it is installed). `--desktops gnome --benchmark_filter=Overlay`
// runs only that desktop and those benchmarks (on GNOME the region capture's
// freeze frame is the portal's whole-desktop screenshot).
//
// With LUMACAP_BENCH_SAVE=DIR it first writes each output's image to
// DIR/<output>.png and exits, so a script can compare the pixels.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoroTask>
#include <QEventLoop>
#include <QKeyEvent>
#include <QScreen>
#include <QUnhandledException>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "app/capture/CaptureManager.h"
#include "app/capture/RegionSelector.h"
#ifdef LUMACAP_WAYLAND_DESKTOPS
#include "support/WaylandDesktop.h"
#endif
#include "core/DesktopBackend.h"
#include "platform/wayland/DesktopProbe.h"
#include "platform/wayland/WaylandScreenSourceChoice.h"

namespace {

using namespace lumacap;

ScreenSource* source = nullptr;
CaptureManager* manager = nullptr;
ShareableContent content;

// The future's result; a failure of the worker surfaces as itself.
template <typename T>
T await(QFuture<T> future) {
  while (!future.isFinished()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  try {
    return future.result();
  } catch (const QUnhandledException& wrapped) {
    if (wrapped.exception()) std::rethrow_exception(wrapped.exception());
    throw;
  }
}

QCoro::Task<> settle(QCoro::Task<CapturedImage>* task, std::optional<CapturedImage>* result, bool* done) {
  *result = co_await *task;
  *done = true;
}

CapturedImage captureDisplay() {
  auto task = manager->display(content, content.displays.front().displayID, std::nullopt, std::nullopt);
  std::optional<CapturedImage> result;
  bool done = false;
  auto waiting = settle(&task, &result, &done);
  while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  return std::move(*result);
}

QImage wholeOutput(const ShareableDisplay& display) {
  const PixelRect all{0, 0, int(display.frame.width * display.scale),
                      int(display.frame.height * display.scale)};
  return await(source->displayImage(display, all));
}

void BM_OutputImage(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(wholeOutput(content.displays.front()));
}
BENCHMARK(BM_OutputImage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DisplayCapture(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(captureDisplay());
}
BENCHMARK(BM_DisplayCapture)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OverlayMapped(benchmark::State& state) {
  for (auto _ : state) {
    auto task = manager->region(content, std::nullopt);
    const auto mapped = [] {
      RegionSelector* overlay = manager->overlay();
      if (!overlay || overlay->windows().size() != content.displays.size()) return false;
      for (const auto& window : overlay->windows()) {
        if (!window || !window->windowHandle() || !window->windowHandle()->isExposed()) return false;
      }
      return true;
    };
    while (!mapped()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    state.PauseTiming();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(manager->overlay()->windows().front()->view(), &escape);
    while (!task.isReady()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OverlayMapped)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

#ifdef LUMACAP_WAYLAND_DESKTOPS
namespace {

double medianMs(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples.empty() ? 0 : samples[samples.size() / 2];
}

// The desktop's own capture tool, run to its end nine times.
void timeTool(lumacap::test::WaylandDesktop& desktop, const std::vector<std::string>& argv,
              const char* label) {
  std::vector<double> samples;
  for (int run = 0; run < 9; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const auto result = desktop.run(argv, std::chrono::seconds(60));
    samples.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (result.exitStatus != 0) {
      std::printf("%s failed: %s\n", argv.front().c_str(), result.standardError.c_str());
      return;
    }
  }
  std::printf("%s: median %.1f ms\n", label, medianMs(samples));
}

// Each desktop in turn (or only the one named): this benchmark inside it, with `extra` arguments
// (--benchmark_filter=…), then the desktop's own tool.
int benchDesktops(const char* self, std::string_view only, const std::vector<std::string>& extra) {
  using namespace lumacap::test;
  for (const Compositor compositor : {Compositor::kwin, Compositor::gnome, Compositor::sway}) {
    if (!only.empty() && nameOf(compositor) != only) continue;
    std::string whyNot;
    const auto desktop = WaylandDesktop::start(compositor, &whyNot);
    std::printf("== %s\n", nameOf(compositor).c_str());
    if (!desktop) {
      std::printf("not run: %s\n", whyNot.c_str());
      continue;
    }
    const auto pattern = desktop->spawn({LUMACAP_WAYLAND_PATTERN});
    waitUntil([&] { return desktop->output(*pattern).find("shown") != std::string::npos; }, 30s);
    std::vector<std::string> arguments{self, "--benchmark_repetitions=9",
                                       "--benchmark_report_aggregates_only=true"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const ProcessResult ours = desktop->run(arguments, 600s);
    std::fputs(ours.standardOutput.c_str(), stdout);
    if (ours.exitStatus != 0) std::fputs(ours.standardError.c_str(), stdout);
    if (compositor == Compositor::sway) {
      timeTool(*desktop, {"grim", "-o", "HEADLESS-1", "/dev/null"},
               "grim -o HEADLESS-1 (one output, PNG, process start included)");
    }
    if (compositor == Compositor::kwin && std::system("command -v spectacle >/dev/null") == 0) {
      timeTool(*desktop,
               {"env", "QT_QPA_PLATFORM=wayland", "spectacle", "-b", "-n", "-m", "-o",
                desktop->folder() + "/spectacle.png"},
               "spectacle -b -n -m -o FILE (the output under the pointer, PNG, process start included)");
    }
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace
#endif

int main(int argc, char** argv) {
#ifdef LUMACAP_WAYLAND_DESKTOPS
  // --desktops [kwin|gnome|sway] [benchmark arguments…]
  if (argc > 1 && std::string_view(argv[1]) == "--desktops") {
    const bool named = argc > 2 && argv[2][0] != '-';
    return benchDesktops(argv[0], named ? argv[2] : "", {argv + (named ? 3 : 2), argv + argc});
  }
#endif
  QApplication application(argc, argv);
  if (QGuiApplication::platformName() != QLatin1String("wayland")) {
    std::fputs("wayland_capture_bench: run it inside a Wayland session (QT_QPA_PLATFORM=wayland).\n", stderr);
    return 1;
  }
  const DesktopBackend backend = chooseBackend(probeDesktop());
  const std::unique_ptr<ScreenSource> chosen = makeWaylandScreenSource(backend.capture);
  source = chosen.get();
  CaptureManager captureManager(*source);
  manager = &captureManager;
  content = await(source->shareableContent());
  std::printf("%s; %zu outputs\n", backendLogLine(backend).c_str(), content.displays.size());
  if (const char* folder = std::getenv("LUMACAP_BENCH_SAVE")) {
    for (const ShareableDisplay& display : content.displays) {
      const QImage image = wholeOutput(display);
      const QString path = QString::fromUtf8(folder) + u'/' + QString::fromStdString(display.name) + ".png";
      std::printf("%s %dx%d at %g,%g\n", display.name.c_str(), image.width(), image.height(), display.frame.x,
                  display.frame.y);
      if (!image.save(path)) return 1;
    }
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
