// The longest time the GUI thread stops answering while a capture is saved
// on a slow disk (every flush 200 ms late, through the SlowFsync shim that
// this program preloads into itself). Side by side: the store's save called
// on the GUI thread, as the model did, and the model's save, which runs it
// on the store's worker. Target: the model's stall stays under 50 ms.
//   build/bin/save_stall_bench

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/ModelHarness.h"

namespace {

using lumacap::AppModel;
using lumacap::CaptureMode;
using lumacap::Date;

// Ticks every millisecond on the GUI thread and keeps the longest gap.
class StallMeter {
 public:
  StallMeter() {
    ticks_.setInterval(1);
    QObject::connect(&ticks_, &QTimer::timeout, [this] { longest_ = std::max(longest_, clock_.restart()); });
    clock_.start();
    ticks_.start();
  }
  double longestMilliseconds() {
    longest_ = std::max(longest_, clock_.elapsed());
    return static_cast<double>(longest_);
  }

 private:
  QTimer ticks_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
};

void BM_SaveOnTheGuiThread(benchmark::State& state) {
  lumacap::test::ModelHarness harness;
  AppModel& model = harness.start();
  lumacap::test::awaitTask(model.capture(CaptureMode::display));
  int saved = 0;
  for (auto _ : state) {
    StallMeter meter;
    lumacap::test::processEventsFor(std::chrono::milliseconds(20));
    model.store()->save("png", "shot-" + std::to_string(saved++), std::nullopt, Date{});
    lumacap::test::processEventsFor(std::chrono::milliseconds(20));
    state.counters["longest_stall_ms"] = meter.longestMilliseconds();
  }
}
BENCHMARK(BM_SaveOnTheGuiThread)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ModelSave(benchmark::State& state) {
  lumacap::test::ModelHarness harness;
  AppModel& model = harness.start();
  for (auto _ : state) {
    lumacap::test::awaitTask(model.capture(CaptureMode::display));
    StallMeter meter;
    lumacap::test::awaitTask(model.save());
    state.counters["longest_stall_ms"] = meter.longestMilliseconds();
  }
}
BENCHMARK(BM_ModelSave)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // The slow disk is this program's own: it preloads the shim and starts again.
  if (!getenv("LUMACAP_SLOW_FSYNC")) {
    setenv("LUMACAP_SLOW_FSYNC", "1", 1);
    setenv("LD_PRELOAD", LUMACAP_SLOW_FSYNC_SHIM, 1);
    execv("/proc/self/exe", argv);
    return 1;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char settings[] = "/tmp/lumacap-bench-XXXXXX";  // the user's settings stay untouched
  if (mkdtemp(settings)) setenv("XDG_CONFIG_HOME", settings, 1);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(settings);
  return 0;
}
