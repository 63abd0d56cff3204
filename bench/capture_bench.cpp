// Display capture and PNG encoding on the X display in $DISPLAY (run it
// through scripts/capture-bench, which starts an Xvfb of each size with
// terminals full of text on it).
//
//   BM_ReadDisplay/t        the whole display through shared memory (t = 0) or
//                           GetImage over the socket (t = 1)
//   BM_DisplayCapture       CaptureManager::display, as the application calls it
//   BM_EncodePng/e          PNG encoding of one capture by each encoder below
//                           (MB: the size of the file)
//   BM_CaptureAndEncode     both, the time from request to PNG bytes
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QCoroTask>
#include <QEventLoop>
#include <QImageWriter>
#include <QScreen>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include <png.h>
#include <zlib.h>

#include "app/capture/CaptureManager.h"
#include "platform/ImageCoding.h"
#include "platform/x11/X11ScreenSource.h"

namespace {

using namespace lumacap;

X11ScreenSource* source = nullptr;
X11ScreenSource* socketSource = nullptr;
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

QByteArray qtPng(const QImage& image, int quality) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "png");
  writer.setQuality(quality);
  if (!writer.write(image)) throw std::runtime_error("PNG encoding failed");
  return buffer.data();
}

// The encoders compared: Qt's writer, and libpng with chosen settings.
struct Encoder {
  const char* name;
  std::function<QByteArray(const QImage&)> encode;
};
const std::vector<Encoder> encoders = {
    {"Qt default (level 6, all filters)", [](const QImage& i) { return qtPng(i, -1); }},
    {"Qt quality 80 (level 1, all filters)", [](const QImage& i) { return qtPng(i, 80); }},
    {"libpng level 1, Sub",
     [](const QImage& i) {
       return encodePNG(i, {1, Z_DEFAULT_STRATEGY, PNG_FILTER_SUB});
     }},
    {"libpng level 1, None (the capture's)", [](const QImage& i) { return encodePNG(i); }},
    {"libpng level 1, Up",
     [](const QImage& i) {
       return encodePNG(i, {1, Z_DEFAULT_STRATEGY, PNG_FILTER_UP});
     }},
    {"libpng level 1, Paeth",
     [](const QImage& i) {
       return encodePNG(i, {1, Z_DEFAULT_STRATEGY, PNG_FILTER_PAETH});
     }},
    {"libpng RLE, Sub",
     [](const QImage& i) {
       return encodePNG(i, {1, Z_RLE, PNG_FILTER_SUB});
     }},
    {"libpng level 3, Sub",
     [](const QImage& i) {
       return encodePNG(i, {3, Z_DEFAULT_STRATEGY, PNG_FILTER_SUB});
     }},
    {"libpng level 6, all filters",
     [](const QImage& i) {
       return encodePNG(i, {6, Z_DEFAULT_STRATEGY, PNG_ALL_FILTERS});
     }},
};

void describe(benchmark::State& state, const QImage& image) {
  state.SetLabel(std::to_string(image.width()) + "x" + std::to_string(image.height()));
}

void BM_ReadDisplay(benchmark::State& state) {
  const ShareableDisplay& display = content.displays.front();
  const PixelRect whole = geometry::nativeRect(display.frame, display.scale);
  X11ScreenSource* reader = state.range(0) == 0 ? source : socketSource;
  QImage image;
  for (auto _ : state) {
    image = reader->displayImage(display, {0, 0, whole.width, whole.height}).result();
    benchmark::DoNotOptimize(image.constBits());
  }
  describe(state, image);
}
BENCHMARK(BM_ReadDisplay)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

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
  const Encoder& encoder = encoders[size_t(state.range(0))];
  QByteArray bytes;
  for (auto _ : state) {
    bytes = encoder.encode(image);
    benchmark::DoNotOptimize(bytes.data());
  }
  if (QImage::fromData(bytes, "PNG").convertToFormat(image.format()) != image) {
    state.SkipWithError("the PNG does not decode to the captured pixels");
  }
  state.SetLabel(std::string(encoder.name) + ", " + std::to_string(image.width()) + "x" +
                 std::to_string(image.height()));
  state.counters["MB"] = bytes.size() / 1e6;
}
BENCHMARK(BM_EncodePng)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);

void BM_CaptureAndEncode(benchmark::State& state) {
  QByteArray bytes;
  QImage image;
  for (auto _ : state) {
    image = captureDisplay().image;
    bytes = encodePNG(image);
    benchmark::DoNotOptimize(bytes.data());
  }
  describe(state, image);
  state.counters["MB"] = bytes.size() / 1e6;
}
BENCHMARK(BM_CaptureAndEncode)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication application(argc, argv);
  X11ScreenSource x11(ProcessSource::system());
  X11ScreenSource overSocket(ProcessSource::system(), {}, X11ScreenSource::ImageTransport::socket);
  CaptureManager captures(x11);
  source = &x11;
  socketSource = &overSocket;
  manager = &captures;
  content = x11.shareableContent().result();
  if (content.displays.empty()) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
