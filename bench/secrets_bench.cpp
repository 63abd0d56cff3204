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
#include <cstdlib>
#include <map>
#include <string>

#include "app/model/OCRService.h"
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

// With LUMACAP_SECRETS_VERBOSE set, the table also shows what was read
// where a secret was missed and where a finding covers no secret.
bool verbose() { return std::getenv("LUMACAP_SECRETS_VERBOSE") != nullptr; }

std::vector<SecretFinding> findingsOf(const QImage& image, std::vector<RecognizedLine>* read = nullptr) {
  std::vector<RecognizedLine> lines = TesseractRecognizer::shared()->recognize(image);
  std::vector<SecretFinding> findings = SecretDetector::find(OCRService::textLines(lines));
  if (read) *read = std::move(lines);
  return findings;
}

void printReadNear(const std::vector<RecognizedLine>& lines, double top, double bottom) {
  for (const RecognizedLine& line : lines) {
    if (line.bounds.bottom() >= top && line.bounds.top() <= bottom) std::printf("    read: %s\n", line.text.c_str());
  }
}

void explainMisses(const test::CorpusPage& page, const std::vector<SecretFinding>& findings,
                   const std::vector<RecognizedLine>& lines) {
  std::vector<QRectF> cover;
  for (const Rect& box : SecretDetector::redactionBoxes(findings)) cover.push_back(test::toQRectF(box));
  for (const test::PlantedSecret& secret : page.secrets) {
    for (const QRectF& rect : test::plantedRects(page, secret)) {
      if (test::coveredShare(rect, cover) >= 0.97) continue;
      std::printf("  missed %s: %s\n", std::string(SecretDetector::name(secret.kind)).c_str(),
                  page.lines[secret.line].toStdString().c_str());
      printReadNear(lines, rect.top(), rect.bottom());
      break;
    }
  }
}

int printTable() {
  constexpr int renderings = 20;
  std::map<SecretKind, int> found, planted;
  int falsePositivesOnSecretPages = 0;
  for (int i = 0; i < renderings; ++i) {
    const test::CorpusPage page =
        test::secretPage(1000u + static_cast<unsigned>(i), i < 10 ? 1 : 2, i % 2 == 0);
    std::vector<RecognizedLine> read;
    const std::vector<SecretFinding> findings = findingsOf(test::renderedPage(page), &read);
    const test::PageScore score = test::scorePage(page, findings);
    if (verbose()) explainMisses(page, findings, read);
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
    std::vector<RecognizedLine> read;
    const std::vector<SecretFinding> findings = findingsOf(test::renderedPage(page), &read);
    const int count = static_cast<int>(findings.size());
    for (const SecretFinding& finding : findings) {
      if (!verbose()) break;
      std::printf("  false positive (%s):\n", std::string(SecretDetector::name(finding.kind)).c_str());
      printReadNear(read, finding.boxes.front().y, finding.boxes.front().bottom());
    }
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
