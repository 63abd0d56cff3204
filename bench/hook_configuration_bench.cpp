// The cost of keeping every number's text when the hook installer rewrites a
// settings file, against nlohmann's plain parse-and-dump of the same file.
#include <benchmark/benchmark.h>

#include <string>

#include "core/HookConfiguration.h"

namespace {

using json = nlohmann::json;

// A settings file with `groups` hook groups and as many permission rules and
// numeric settings: about 250 bytes per group.
std::string settingsFile(int groups) {
  json settings = {{"model", "opus"}, {"cleanupPeriodDays", 30}};
  for (int index = 0; index < groups; ++index) {
    const std::string name = std::to_string(index);
    settings["permissions"]["allow"].push_back("Bash(make target-" + name + ")");
    settings["metrics"][name] = {{"ratio", 0.25 + index}, {"count", index * 1000003LL}};
    const json hook = {
        {"type", "command"}, {"command", "/usr/local/bin/check-" + name + ".sh"}, {"timeout", 60}};
    settings["hooks"]["PreToolUse"].push_back({{"matcher", "Tool" + name}, {"hooks", json::array({hook})}});
  }
  return settings.dump(2);
}

void mergingKeepingNumberText(benchmark::State& state) {
  const std::string file = settingsFile(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(lumacap::HookConfiguration::merging(file, "/usr/local/bin/lumacap", true));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}

void plainParseAndDump(benchmark::State& state) {
  const std::string file = settingsFile(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    json settings = json::parse(file);
    settings["hooks"]["Stop"].push_back({{"hooks", json::array()}});
    benchmark::DoNotOptimize(settings.dump(2));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}

BENCHMARK(mergingKeepingNumberText)->Arg(10)->Arg(4000);
BENCHMARK(plainParseAndDump)->Arg(10)->Arg(4000);

}  // namespace

BENCHMARK_MAIN();
