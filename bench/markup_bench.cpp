// The mark-up of a capture of a 1512 × 982 point screen at two pixels per
// point (3024 × 1964 pixels), on Qt's offscreen platform unless
// QT_QPA_PLATFORM says otherwise.
//
//   BM_Flatten/n        the image with n items of every kind (arrows, lines,
//                       pen strokes, boxes, ellipses, highlights, texts,
//                       steps, pixelations, redactions) drawn at full
//                       resolution, then cropped: what "Done" does
//   BM_OpenMarkupWindow the window started on the capture, sized and placed,
//                       shown and its first frame painted
//   BM_UndoHistory/n    n annotations drawn one by one (each a step of undo),
//                       then every step undone and redone: the memory the
//                       model holds (resident set growth, MB) and the peak
//                       resident set of the process (MB); run it alone
//                       (--benchmark_filter=UndoHistory) for a clean peak
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>
#include <QApplication>
#include <QScreen>
#include <QWindow>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "app/model/MarkupModel.h"
#include "app/views/markup/MarkupWindow.h"

namespace {

using namespace lumacap;

const QSize captureSize(3024, 1964);

// A desktop of text-like stripes, so that the image is not one flat colour.
QImage desktop() {
  QImage image(captureSize, QImage::Format_RGB32);
  image.fill(QColor(30, 32, 36));
  for (int y = 0; y < image.height(); y += 24) {
    for (int x = 40; x < image.width() - 40; x += 14) {
      const QRgb ink = qRgb(120 + (x % 100), 200, 160 + (y % 90));
      for (int dy = 0; dy < 12; ++dy) {
        for (int dx = 0; dx < 8; ++dx) image.setPixel(x + dx, y + 6 + dy % 12, ink);
      }
    }
  }
  return image;
}

void addItems(MarkupModel& model, int each) {
  for (int index = 0; index < each; ++index) {
    const QPointF at(200 + index * 240, 200 + index * 150);
    model.add({MarkupKind::arrow, at, at + QPointF(400, 220), Qt::red, 1, {}, {}});
    model.add({MarkupKind::rectangle, at + QPointF(50, 400), at + QPointF(650, 700), Qt::red, 2, {}, {}});
    model.add({MarkupKind::highlighter, at + QPointF(0, 800), at + QPointF(900, 860), Qt::yellow, 1, {}, {}});
    model.add({MarkupKind::text, at + QPointF(700, 0), at, Qt::red, 1, QStringLiteral("this is wrong"), {}});
    model.add({MarkupKind::step, at + QPointF(-60, -60), at, Qt::red, 1, {}, {}});
    model.add({MarkupKind::redact, at + QPointF(900, 300), at + QPointF(1500, 340), Qt::black, 1, {}, {}});
    model.add({MarkupKind::line, at + QPointF(0, 900), at + QPointF(700, 950), Qt::red, 1, {}, {}});
    model.add({MarkupKind::ellipse, at + QPointF(800, 400), at + QPointF(1200, 600), Qt::red, 1, {}, {}});
    model.add({MarkupKind::pixelate, at + QPointF(900, 0), at + QPointF(1500, 250), Qt::red, 1, {}, {}});
    MarkupItem pen{MarkupKind::pen, at, at, Qt::red, 1, {}, {}};
    for (int step = 0; step < 200; ++step)
      pen.path.push_back(at + QPointF(step * 3, 40 * std::sin(step / 8.0)));
    model.add(std::move(pen));
  }
  model.add({MarkupKind::crop, QPointF(100, 100), QPointF(2900, 1800), Qt::red, 1, {}, {}});
}

void BM_Flatten(benchmark::State& state) {
  const QImage image = desktop();
  MarkupModel model(image.size());
  addItems(model, static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(model.flattened(image));
  state.SetLabel("3024x1964");
}
BENCHMARK(BM_Flatten)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

void BM_OpenMarkupWindow(benchmark::State& state) {
  const QImage image = desktop();
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  for (auto _ : state) {
    MarkupWindow window;
    window.begin(image);
    window.place(area);
    window.show();
    while (!window.windowHandle()->isExposed()) QCoreApplication::processEvents();
    window.canvas().repaint();
    state.PauseTiming();
    window.hide();
    QCoreApplication::processEvents();
    state.ResumeTiming();
  }
  state.SetLabel(QStringLiteral("3024x1964 on %1x%2").arg(area.width()).arg(area.height()).toStdString());
}
BENCHMARK(BM_OpenMarkupWindow)->Unit(benchmark::kMillisecond);

// Resident set size now, in MB.
double residentMB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

void BM_UndoHistory(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::array kinds{MarkupKind::arrow, MarkupKind::rectangle, MarkupKind::highlighter,
                         MarkupKind::text,  MarkupKind::step,      MarkupKind::redact};
  double held = 0;
  for (auto _ : state) {
    const double before = residentMB();
    MarkupModel model(captureSize);
    for (int index = 0; index < count; ++index) {
      const QPointF at((index * 37) % 2800, (index * 53) % 1800);
      const MarkupKind kind = kinds[static_cast<size_t>(index) % kinds.size()];
      model.add({kind,
                 at,
                 at + QPointF(180, 90),
                 Qt::red,
                 1,
                 kind == MarkupKind::text ? QStringLiteral("label %1").arg(index) : QString(),
                 {}});
    }
    while (model.canUndo()) model.undo();
    while (model.canRedo()) model.redo();
    held = residentMB() - before;
    benchmark::DoNotOptimize(model.items().data());
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["held_MB"] = held;
  state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
}
BENCHMARK(BM_UndoHistory)->Arg(4000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
