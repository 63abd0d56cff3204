// Secrets found on the device.
//
//   secrets_bench            BM_DetectSecrets: the detector over the text
//                            recognised in a 1920 × 1080 terminal full of
//                            code, logs and secrets (the recognition done once,
//                            outside the timing); BM_RecognizeAndDetect: the
//                            recognition and the detection together, as each
//                            capture runs them on the worker
//   secrets_bench --table    the detector table: 20 renderings of a terminal
//                            screen with a made-up secret of every kind (10 at
//                            1×, 10 at 2×, dark and light), read by Tesseract;
//                            recall per kind, and false positives on 20
//                            ordinary terminal screens
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdio>
#include <map>
#include <string>

#include "app/OCRService.h"
#include "platform/linux/TesseractRecognizer.h"
#include "support/SecretCorpus.h"

using namespace lumacap;

namespace {

// A full-HD terminal: two secret pages' lines and ordinary ones, 14-pixel text.
QImage terminalScreen() {
  test::CorpusPage page = test::secretPage(7, 1, true);
  const test::CorpusPage more = test::ordinaryPage(8, 1, true, 20);
  page.lines << more.lines;
  QImage screen(1920, 1080, QImage::Format_RGB32);
  screen.fill(QColor(30, 30, 30));
  QPainter painter(&screen);
  painter.drawImage(0, 0, test::renderedPage(page));
  return screen;
}

void BM_DetectSecrets(benchmark::State& state) {
  const QImage screen = terminalScreen();
  const std::vector<TextLine> lines = OCRService::textLines(TesseractRecognizer::shared()->recognize(screen));
  size_t found = 0;
  for (auto _ : state) {
    const std::vector<SecretFinding> findings = SecretDetector::find(lines);
    found = findings.size();
    benchmark::DoNotOptimize(findings.data());
  }
  state.SetLabel(std::to_string(lines.size()) + " lines, " + std::to_string(found) + " secrets");
}
BENCHMARK(BM_DetectSecrets)->Unit(benchmark::kMicrosecond);

void BM_RecognizeAndDetect(benchmark::State& state) {
  const QImage screen = terminalScreen();
  const bool detect = state.range(0) == 1;
  TesseractRecognizer recognizer;
  OCRService::recognizeNow(recognizer, screen, std::nullopt, std::nullopt, Date::now(), detect);  // loads
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        OCRService::recognizeNow(recognizer, screen, std::nullopt, std::nullopt, Date::now(), detect));
  }
  state.SetLabel(detect ? "recognition + detection" : "recognition alone");
}
BENCHMARK(BM_RecognizeAndDetect)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

std::vector<SecretFinding> findingsOf(const QImage& image) {
  return SecretDetector::find(OCRService::textLines(TesseractRecognizer::shared()->recognize(image)));
}

int printTable() {
  constexpr int renderings = 20;
  std::map<SecretKind, int> found, planted;
  int falsePositivesOnSecretPages = 0;
  for (int i = 0; i < renderings; ++i) {
    const test::CorpusPage page =
        test::secretPage(1000u + static_cast<unsigned>(i), i < 10 ? 1 : 2, i % 2 == 0);
    const test::PageScore score = test::scorePage(page, findingsOf(test::renderedPage(page)));
    for (const auto& [kind, count] : score.planted) planted[kind] += count;
    for (const auto& [kind, count] : score.found) found[kind] += count;
    falsePositivesOnSecretPages += score.falsePositives;
  }
  std::printf("| Kind | Found in renderings |\n|---|---|\n");
  for (SecretKind kind : allSecretKinds) {
    std::printf("| %s | %d / %d |\n", std::string(SecretDetector::name(kind)).c_str(), found[kind],
                planted[kind]);
  }
  std::vector<int> perScreen;
  int ordinaryFalsePositives = 0;
  for (int i = 0; i < renderings; ++i) {
    const test::CorpusPage page =
        test::ordinaryPage(2000u + static_cast<unsigned>(i), i < 10 ? 1 : 2, i % 2 == 0);
    const int count = static_cast<int>(findingsOf(test::renderedPage(page)).size());
    perScreen.push_back(count);
    ordinaryFalsePositives += count;
  }
  std::printf("\nFalse positives: %d on %d ordinary terminal screens (per screen:", ordinaryFalsePositives,
              renderings);
  for (int count : perScreen) std::printf(" %d", count);
  std::printf("); %d beside the secrets of the %d renderings above\n", falsePositivesOnSecretPages,
              renderings);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QGuiApplication application(qtArgc, argv);  // fonts for drawing the screens
  if (argc > 1 && std::string(argv[1]) == "--table") return printTable();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
