// History store timings with 10,000 captures in the history: saving one more
// capture, opening the store, and the index encoding and decoding that both
// rest on. Targets: save ≤ 30 ms, open ≤ 50 ms (medians).
//   build/bin/store_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/AtomicFile.h"
#include "core/Hashing.h"
#include "core/ScreenshotStore.h"

namespace fs = std::filesystem;
using lumacap::CaptureRecord;
using lumacap::Date;
using lumacap::ScreenshotStore;

namespace {

constexpr int historySize = 10000;

// A minimal valid PNG (1×1, grey), 67 bytes.
const std::string tinyPng(
    "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x00\0\0\0\x3a\x7e\x9b\x55\0\0\0\nIDATx\x9c"
    "c\xf8\x0f\0\x01\x01\x01\0\x18\xdd\x8d\xb0\0\0\0\0IEND\xae\x42\x60\x82",
    67);

std::vector<CaptureRecord> sampleRecords() {
  std::vector<CaptureRecord> records;
  records.reserve(historySize);
  for (int i = 0; i < historySize; ++i) {
    CaptureRecord record{lumacap::randomUuidString(),
                         "build-failed-console-" + std::to_string(i) + ".png",
                         Date{786000000.0 + i * 61.25},
                         "Terminal",
                         std::nullopt,
                         std::nullopt,
                         std::nullopt,
                         std::nullopt,
                         std::nullopt};
    if (i % 3 == 0) {
      record.destination = "lumacap · main";
      record.deliveryStatus = "Staged";
    }
    records.push_back(std::move(record));
  }
  return records;
}

// A store folder holding 10,000 captures, each with its image file.
class FullStore {
 public:
  FullStore() {
    std::string pattern = (fs::temp_directory_path() / "lumacap-bench-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    fs::create_directories(root_ / "Captures");
    const std::vector<CaptureRecord> records = sampleRecords();
    for (const CaptureRecord& record : records) {
      std::ofstream(root_ / "Captures" / record.filename, std::ios::binary) << tinyPng;
    }
    lumacap::writeFileAtomically(root_ / "history.json", ScreenshotStore::encodeIndex(records));
  }
  ~FullStore() { fs::remove_all(root_); }
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

void saveIntoFullStore(benchmark::State& state) {
  FullStore folder;
  ScreenshotStore store(folder.root());
  for (auto _ : state) {
    const CaptureRecord record =
        store.save(tinyPng, "Build failed — Console", std::string("Terminal"), Date::now());
    state.PauseTiming();
    store.remove(record.id);  // keeps the history at 10,000
    state.ResumeTiming();
  }
  state.counters["records"] = static_cast<double>(store.records().size());
}
BENCHMARK(saveIntoFullStore)->Unit(benchmark::kMillisecond)->UseRealTime();

void removeFromFullStore(benchmark::State& state) {
  FullStore folder;
  ScreenshotStore store(folder.root());
  for (auto _ : state) {
    state.PauseTiming();
    const CaptureRecord record =
        store.save(tinyPng, "Build failed — Console", std::string("Terminal"), Date::now());
    state.ResumeTiming();
    store.remove(record.id);
  }
}
BENCHMARK(removeFromFullStore)->Unit(benchmark::kMillisecond)->UseRealTime();

void openFullStore(benchmark::State& state) {
  FullStore folder;
  for (auto _ : state) {
    ScreenshotStore store(folder.root());
    benchmark::DoNotOptimize(store.records().data());
  }
}
BENCHMARK(openFullStore)->Unit(benchmark::kMillisecond)->UseRealTime();

// Emptying a history of 10,000 captures (one index write, 10,000 image files
// removed).
void deleteAllOfFullStore(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto folder = std::make_unique<FullStore>();
    ScreenshotStore store(folder->root());
    state.ResumeTiming();
    store.deleteAll();
    state.PauseTiming();
    folder.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(deleteAllOfFullStore)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void encodeIndex(benchmark::State& state) {
  const std::vector<CaptureRecord> records = sampleRecords();
  size_t bytes = 0;
  for (auto _ : state) bytes = ScreenshotStore::encodeIndex(records).size();
  state.counters["indexBytes"] = static_cast<double>(bytes);
}
BENCHMARK(encodeIndex)->Unit(benchmark::kMillisecond)->UseRealTime();

void decodeIndex(benchmark::State& state) {
  const std::string index = ScreenshotStore::encodeIndex(sampleRecords());
  for (auto _ : state) benchmark::DoNotOptimize(ScreenshotStore::decodeIndex(index).size());
}
BENCHMARK(decodeIndex)->Unit(benchmark::kMillisecond)->UseRealTime();

// The durable replacement of an index of that size alone: temporary file,
// fsync, rename, folder fsync.
void writeIndexAtomically(benchmark::State& state) {
  FullStore folder;
  const std::string index = ScreenshotStore::encodeIndex(sampleRecords());
  for (auto _ : state) lumacap::writeFileAtomically(folder.root() / "history.json", index);
}
BENCHMARK(writeIndexAtomically)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
