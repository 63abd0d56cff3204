// Times `lumacap mcp` as an agent meets it: the process started until its
// answer to `initialize` is read (beside a bare start of /bin/true), and
// get_capture of a 3840 × 2160 capture to the last byte of the answer, at the
// default maxEdge (scaled to 1568 × 882) and whole, with the processor time
// the server spent on each call.
//
//   build/bin/mcp_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <png.h>
#include <zlib.h>

#include "app/cli/PngImage.h"
#include "core/McpProtocol.h"
#include "core/ScreenshotStore.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string initialize =
    R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25",)"
    R"("capabilities":{},"clientInfo":{"name":"bench","version":"1"}}})"
    "\n";

// A running `lumacap mcp` with pipes to its standard input and output.
class Server {
 public:
  explicit Server(const char* program = LUMACAP_BINARY) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(program), const_cast<char*>("mcp"), nullptr};
    if (::posix_spawn(&pid_, program, &actions, nullptr, argv, environ) != 0) std::abort();
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }
  ~Server() {
    ::close(input_);
    ::close(output_);
    ::waitpid(pid_, nullptr, 0);
  }
  // Processor time the server used so far (user and system), in milliseconds.
  double processorMilliseconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
      if (i >= 14) ticks += std::stod(field);
    return ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  // Sends one line and reads the answer's line to its end; its size.
  size_t exchange(const std::string& line) {
    if (::write(input_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::abort();
    size_t size = 0;
    char buffer[1 << 16];
    for (;;) {
      const ssize_t got = ::read(output_, buffer, sizeof buffer);
      if (got <= 0) std::abort();
      size += static_cast<size_t>(got);
      if (buffer[got - 1] == '\n') return size;
    }
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

void startToInitializeAnswered(benchmark::State& state) {
  for (auto _ : state) {
    const auto start = Clock::now();
    Server server;
    server.exchange(initialize);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}
BENCHMARK(startToInitializeAnswered)->Unit(benchmark::kMillisecond)->UseManualTime();

void bareProcessStart(benchmark::State& state) {
  for (auto _ : state) {
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) std::abort();
    ::waitpid(pid, nullptr, 0);
  }
}
BENCHMARK(bareProcessStart)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 4K desktop of terminals: dark background, rows of short coloured words.
lumacap::RgbaImage desktop() {
  lumacap::RgbaImage image{3840, 2160, std::vector<uint8_t>(size_t{3840} * 2160 * 4)};
  uint32_t random = 12345;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      uint8_t* pixel = &image.pixels[(size_t(y) * 3840 + x) * 4];
      const bool inWord = (y % 20) > 4 && (y % 20) < 16 && ((x / 9) * 7919 + (y / 20) * 104729) % 11 > 3;
      random = random * 1103515245 + 12345;
      const bool ink = inWord && (random >> 16) % 3 == 0;
      pixel[0] = ink ? 220 : 30, pixel[1] = ink ? uint8_t(120 + (x / 90) % 100) : 32,
      pixel[2] = ink ? 90 : 40;
      pixel[3] = 255;
    }
  }
  return image;
}

void getCapture4K(benchmark::State& state) {
  const fs::path data = fs::temp_directory_path() / ("lumacap-mcp-bench-" + std::to_string(::getpid()));
  lumacap::ScreenshotStore(data / "Lumacap")
      .save(lumacap::PngImage::encode(desktop()), "desktop", {}, lumacap::Date::now());
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  {
    Server server;
    server.exchange(initialize);
    const std::string call =
        R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"get_capture",)"
        R"("arguments":{"maxEdge":)" +
        std::to_string(state.range(0)) + "}}}\n";
    size_t bytes = 0;
    const double before = server.processorMilliseconds();
    for (auto _ : state) bytes = server.exchange(call);
    state.counters["answer_MB"] = double(bytes) / 1e6;
    // The wall time above counts waiting for a processor on a busy machine; this does not.
    state.counters["server_cpu_ms"] =
        (server.processorMilliseconds() - before) / static_cast<double>(state.iterations());
  }
  fs::remove_all(data);
}
BENCHMARK(getCapture4K)->Arg(1568)->Arg(3840)->Unit(benchmark::kMillisecond)->UseRealTime();

// The stages of a scaled get_capture one at a time, on one thread: decoding
// the 4K capture, scaling it to 1568 × 882, encoding that (with the
// compression settings compared side by side) and the answer's base64.
const lumacap::RgbaImage& desktop4K() {
  static const lumacap::RgbaImage image = desktop();
  return image;
}
const std::string& desktopPng() {
  static const std::string png = lumacap::PngImage::encode(desktop4K());
  return png;
}
const lumacap::RgbaImage& scaledDesktop() {
  static const lumacap::RgbaImage image = lumacap::downscaled(desktop4K(), {1568, 882});
  return image;
}

void stageDecode4K(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(lumacap::PngImage::decode(desktopPng()));
}
BENCHMARK(stageDecode4K)->Unit(benchmark::kMillisecond);

void stageDownscale4K(benchmark::State& state) {
  lumacap::RowProgress whole;
  whole.publish(desktop4K().height);
  const bool opaque = true;
  for (auto _ : state) {
    lumacap::RgbaImage result{1568, 882, std::vector<uint8_t>(size_t{1568} * 882 * 4)};
    lumacap::RowProgress scaled;
    lumacap::downscaleInto(desktop4K(), opaque, whole, result, scaled);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(stageDownscale4K)->Unit(benchmark::kMillisecond);

// Arguments: zlib level, zlib strategy, PNG row filters.
void stageEncodeScaled(benchmark::State& state) {
  const lumacap::PngCompression compression{
      static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2))};
  size_t bytes = 0;
  for (auto _ : state) bytes = lumacap::PngImage::encode(scaledDesktop(), compression).size();
  state.counters["png_MB"] = double(bytes) / 1e6;
}
BENCHMARK(stageEncodeScaled)
    ->ArgNames({"level", "strategy", "filters"})
    ->Args({1, Z_DEFAULT_STRATEGY, PNG_FILTER_NONE})
    ->Args({1, Z_DEFAULT_STRATEGY, PNG_FILTER_SUB})
    ->Args({1, Z_DEFAULT_STRATEGY, PNG_FILTER_UP})
    ->Args({1, Z_RLE, PNG_FILTER_NONE})
    ->Args({1, Z_RLE, PNG_FILTER_SUB})
    ->Args({1, Z_RLE, PNG_FILTER_UP})
    ->Args({1, Z_HUFFMAN_ONLY, PNG_FILTER_UP})
    ->Unit(benchmark::kMillisecond);

void stageBase64OfScaled(benchmark::State& state) {
  const std::string png = lumacap::PngImage::encode(scaledDesktop());
  for (auto _ : state) benchmark::DoNotOptimize(lumacap::mcp::base64(png));
}
BENCHMARK(stageBase64OfScaled)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
