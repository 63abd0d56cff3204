// Display capture inside the Wayland session of $WAYLAND_DISPLAY (run it
// through scripts/wayland-capture-bench, which starts each headless desktop
// and runs the desktop's own tool beside it).
//
//   BM_OutputImage        one whole output through the source the session
//                         offers (ScreenShot2, screencopy or the portal)
//   BM_DisplayCapture     CaptureManager::display, as the application calls it:
//                         from the request until the capture is in hand
//
// With LUMACAP_BENCH_SAVE=DIR it first writes each output's image to
// DIR/<output>.png and exits, so a script can compare the pixels.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoroTask>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QScreen>
#include <QUnhandledException>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/CaptureManager.h"
#include "platform/wayland/WaylandScreenSourceChoice.h"

namespace {

using namespace lumacap;

WaylandScreenSource* source = nullptr;
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

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (QGuiApplication::platformName() != QLatin1String("wayland")) {
    std::fputs("wayland_capture_bench: run it inside a Wayland session (QT_QPA_PLATFORM=wayland).\n", stderr);
    return 1;
  }
  WaylandScreenSourceChoice choice = chooseWaylandScreenSource();
  source = choice.source.get();
  CaptureManager captureManager(*source);
  manager = &captureManager;
  content = await(source->shareableContent());
  std::printf("capture via %s, %zu outputs\n", choice.mechanism.c_str(), content.displays.size());
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
