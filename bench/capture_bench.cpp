// Display capture and PNG encoding on the X display in $DISPLAY (run it
// through scripts/capture-bench, which starts an Xvfb of each size with
// terminals full of text on it).
//
//   BM_ReadDisplay          GetImage of the whole display
//   BM_DisplayCapture       CaptureManager::display, as the application calls it
//   BM_EncodePng/q          PNG encoding of one capture (q = -1: Qt's default,
//                           zlib level 6; q = 80: zlib level 1)
//   BM_CaptureAndEncode/q   both, the time from request to PNG bytes
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QCoroTask>
#include <QEventLoop>
#include <QImageWriter>
#include <QScreen>
#include <QTimer>
#include <memory>
#include <optional>

#include "app/CaptureManager.h"
#include "platform/x11/X11ScreenSource.h"

namespace {

using namespace lumacap;

X11ScreenSource* source = nullptr;
CaptureManager* manager = nullptr;
ShareableContent content;

QCoro::Task<> settle(QCoro::Task<CapturedImage>* task, std::optional<CapturedImage>* result, bool* done) {
  *result = co_await *task;
  *done = true;
}

CapturedImage captureDisplay() {
  auto task = manager->display(content, content.displays.front().displayID, std::nullopt, "Terminal");
  std::optional<CapturedImage> result;
  bool done = false;
  auto waiting = settle(&task, &result, &done);
  while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return std::move(*result);
}

QByteArray png(const QImage& image, int quality) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "png");
  writer.setQuality(quality);
  if (!writer.write(image)) throw std::runtime_error("PNG encoding failed");
  return buffer.data();
}

void describe(benchmark::State& state, const QImage& image) {
  state.SetLabel(std::to_string(image.width()) + "x" + std::to_string(image.height()));
}

void BM_ReadDisplay(benchmark::State& state) {
  const ShareableDisplay& display = content.displays.front();
  const PixelRect whole = geometry::nativeRect(display.frame, display.scale);
  QImage image;
  for (auto _ : state) {
    image = source->displayImage(display, {0, 0, whole.width, whole.height}).result();
    benchmark::DoNotOptimize(image.constBits());
  }
  describe(state, image);
}
BENCHMARK(BM_ReadDisplay)->Unit(benchmark::kMillisecond);

void BM_DisplayCapture(benchmark::State& state) {
  QImage image;
  for (auto _ : state) {
    image = captureDisplay().image;
    benchmark::DoNotOptimize(image.constBits());
  }
  describe(state, image);
}
BENCHMARK(BM_DisplayCapture)->Unit(benchmark::kMillisecond);

void BM_EncodePng(benchmark::State& state) {
  const QImage image = captureDisplay().image;
  QByteArray bytes;
  for (auto _ : state) {
    bytes = png(image, int(state.range(0)));
    benchmark::DoNotOptimize(bytes.data());
  }
  describe(state, image);
  state.counters["MB"] = bytes.size() / 1e6;
}
BENCHMARK(BM_EncodePng)->Arg(-1)->Arg(80)->Unit(benchmark::kMillisecond);

void BM_CaptureAndEncode(benchmark::State& state) {
  QByteArray bytes;
  QImage image;
  for (auto _ : state) {
    image = captureDisplay().image;
    bytes = png(image, int(state.range(0)));
    benchmark::DoNotOptimize(bytes.data());
  }
  describe(state, image);
  state.counters["MB"] = bytes.size() / 1e6;
}
BENCHMARK(BM_CaptureAndEncode)->Arg(-1)->Arg(80)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication application(argc, argv);
  X11ScreenSource x11(ProcessSource::system());
  CaptureManager captures(x11);
  source = &x11;
  manager = &captures;
  content = x11.shareableContent().result();
  if (content.displays.empty()) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
