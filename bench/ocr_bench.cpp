// Name suggestion from a full-HD screenshot of a terminal: Tesseract's
// recognition of 20 lines plus the filename generator, the work done for each
// capture. Run without arguments, it measures twice in child processes, with
// OMP_THREAD_LIMIT=1 (what the lumacap executable sets when the user has not)
// and with it unset (Tesseract's OpenMP default), and prints the medians side
// by side. OpenMP reads the variable when the library loads, so each setting
// needs its own process. "--child" measures in this process as it is.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/model/OCRService.h"
#include "platform/linux/TesseractRecognizer.h"

using namespace lumacap;

namespace {

const char* const terminalLines[] = {
    "$ make -j8 all",
    "g++ -O2 -c src/server/connection.cpp -o build/connection.o",
    "src/server/connection.cpp:42:10: error: Cannot connect to server",
    "make: *** [Makefile:31: build] Error 1",
    "$ git status",
    "On branch feature/upload-retry",
    "Changes not staged for commit:",
    "  modified:   src/server/connection.cpp",
    "  modified:   tests/connection_test.cpp",
    "$ npm test",
    "> lumacap@1.0.0 test",
    "PASS tests/naming.test.js (1.2 s)",
    "FAIL tests/upload.test.js",
    "  Expected status 200 but received 503",
    "Tests: 1 failed, 12 passed, 13 total",
    "$ curl -I http://localhost:8080/health",
    "HTTP/1.1 503 Service Unavailable",
    "Content-Type: application/json",
    "Retry-After: 30",
    "$ tail -f logs/server.log",
};

QImage terminalScreenshot(bool dark) {
  QImage image(1920, 1080, QImage::Format_RGB32);
  image.fill(dark ? QColor(30, 30, 30) : QColor(255, 255, 255));
  QPainter painter(&image);
  QFont font("DejaVu Sans Mono");
  font.setPixelSize(16);
  painter.setFont(font);
  painter.setPen(dark ? QColor(220, 220, 220) : QColor(20, 20, 20));
  int baseline = 40;
  for (const char* line : terminalLines) {
    painter.drawText(20, baseline, QString::fromUtf8(line));
    baseline += 24;
  }
  return image;
}

void suggestName(benchmark::State& state, bool dark) {
  const QImage image = terminalScreenshot(dark);
  TesseractRecognizer recognizer;
  std::string name =
      OCRService::nameNow(recognizer, image, std::nullopt, std::nullopt, Date::now());  // loads
  for (auto _ : state) {
    name = OCRService::nameNow(recognizer, image, std::nullopt, std::nullopt, Date::now());
    benchmark::DoNotOptimize(name);
  }
  state.SetLabel(name);
}

void BM_SuggestName_DarkTerminal(benchmark::State& state) { suggestName(state, true); }
void BM_SuggestName_LightTerminal(benchmark::State& state) { suggestName(state, false); }

// The first suggestion of a session also loads the engine and its data.
void BM_FirstSuggestionWithLoad(benchmark::State& state) {
  const QImage image = terminalScreenshot(false);
  for (auto _ : state) {
    TesseractRecognizer recognizer;
    benchmark::DoNotOptimize(OCRService::nameNow(recognizer, image, std::nullopt, std::nullopt, Date::now()));
  }
}

// The first suggestion after an idle spell: the engine was ended and the
// libraries' pages handed back, so both come in again. Compare with the one
// above, which loads the engine with the libraries' pages still in.
void BM_SuggestionAfterRelease(benchmark::State& state) {
  const QImage image = terminalScreenshot(false);
  TesseractRecognizer recognizer;
  OCRService::nameNow(recognizer, image, std::nullopt, std::nullopt, Date::now());
  for (auto _ : state) {
    state.PauseTiming();
    recognizer.releaseResources();
    state.ResumeTiming();
    benchmark::DoNotOptimize(OCRService::nameNow(recognizer, image, std::nullopt, std::nullopt, Date::now()));
  }
}

BENCHMARK(BM_SuggestName_DarkTerminal)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Repetitions(5)
    ->Iterations(2);
BENCHMARK(BM_SuggestName_LightTerminal)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Repetitions(5)
    ->Iterations(2);
BENCHMARK(BM_FirstSuggestionWithLoad)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Repetitions(3)
    ->Iterations(1);
BENCHMARK(BM_SuggestionAfterRelease)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Repetitions(3)
    ->Iterations(1);

int runBenchmarks(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

struct Median {
  double realMilliseconds = 0;
  double cpuMilliseconds = 0;  // of the whole process, OpenMP's helper threads included
};

// Median times per benchmark (by its name), from a JSON report.
std::map<std::string, Median> medians(const std::string& reportPath) {
  std::map<std::string, Median> result;
  std::ifstream file(reportPath);
  const auto report = nlohmann::json::parse(file, nullptr, false);
  if (report.is_discarded() || !report.contains("benchmarks")) return result;
  for (const auto& entry : report["benchmarks"]) {
    if (entry.value("aggregate_name", "") != "median") continue;
    const std::string name = entry.value("run_name", "");
    result[name.substr(0, name.find('/'))] = {entry.value("real_time", 0.0), entry.value("cpu_time", 0.0)};
  }
  return result;
}

// Runs this program with "--child" and the given OMP_THREAD_LIMIT (nullptr:
// unset); returns the medians it measured.
std::map<std::string, Median> measureInChild(char** argv, int argc, const char* threadLimit) {
  char reportPath[] = "/tmp/lumacap-ocr-bench-XXXXXX";
  const int descriptor = ::mkstemp(reportPath);
  if (descriptor < 0) return {};
  ::close(descriptor);
  std::printf("\n=== OMP_THREAD_LIMIT %s\n", threadLimit ? threadLimit : "unset");
  std::fflush(stdout);

  const pid_t child = ::fork();
  if (child == 0) {
    if (threadLimit) {
      ::setenv("OMP_THREAD_LIMIT", threadLimit, 1);
    } else {
      ::unsetenv("OMP_THREAD_LIMIT");
    }
    std::vector<std::string> arguments = {argv[0], "--child", std::string("--benchmark_out=") + reportPath,
                                          "--benchmark_out_format=json"};
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    ::execv("/proc/self/exe", pointers.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  auto result = medians(reportPath);
  ::unlink(reportPath);
  return result;
}

int compareThreadLimits(int argc, char** argv) {
  const char* userLimit = std::getenv("OMP_THREAD_LIMIT");
  const std::string userValue = userLimit ? userLimit : "";
  const auto oneThread = measureInChild(argv, argc, "1");
  const auto unset = measureInChild(argv, argc, nullptr);
  std::map<std::string, Median> user;
  if (!userValue.empty() && userValue != "1") user = measureInChild(argv, argc, userValue.c_str());

  std::printf("\nMedian real (cpu) time in ms   %20s %20s %8s", "LIMIT=1", "LIMIT unset", "unset/1");
  if (!user.empty()) std::printf(" %20s", ("LIMIT=" + userValue).c_str());
  std::printf("\n");
  for (const auto& [name, one] : oneThread) {
    const Median other = unset.count(name) ? unset.at(name) : Median{};
    std::printf("%-30s %11.1f (%6.1f) %11.1f (%6.1f) %7.2fx", name.c_str(), one.realMilliseconds,
                one.cpuMilliseconds, other.realMilliseconds, other.cpuMilliseconds,
                one.realMilliseconds > 0 ? other.realMilliseconds / one.realMilliseconds : 0);
    if (user.count(name))
      std::printf(" %11.1f (%6.1f)", user.at(name).realMilliseconds, user.at(name).cpuMilliseconds);
    std::printf("\n");
  }
  return oneThread.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) != "--child") return compareThreadLimits(argc, argv);

  std::vector<char*> benchmarkArguments = {argv[0]};
  for (int i = 2; i < argc; ++i) benchmarkArguments.push_back(argv[i]);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QGuiApplication application(qtArgc, argv);  // fonts for drawing the screenshots
  return runBenchmarks(static_cast<int>(benchmarkArguments.size()), benchmarkArguments.data());
}
