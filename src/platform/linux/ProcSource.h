#pragma once

#include <ctime>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ProcessSource.h"

namespace lumacap {

// Reads /proc/PID/stat: one read gives the command, the parent and the start
// time. The start time is written the way `ps -o lstart=` writes it, in UTC,
// so that processes with different TZ settings agree on it.
class ProcSource final : public ProcessSource {
 public:
  explicit ProcSource(std::string procRoot = "/proc");

  static bool available();

  std::optional<ProcessIdentity> inspect(int32_t pid) override;
  std::optional<int32_t> parent(int32_t pid) override;
  Probe probe(int32_t pid) override;
  std::optional<std::filesystem::path> executablePath(int32_t pid) override;
  // /proc/PID/cmdline, its first 64 KiB.
  std::optional<std::vector<std::string>> arguments(int32_t pid) override;
  std::vector<int32_t> processIds() override;
  std::optional<std::filesystem::path> workingFolder(int32_t pid) override;

  struct Stat {
    std::string command;
    int32_t parent = 0;
    unsigned long long startTicks = 0;
  };
  // Parses the content of /proc/PID/stat; the command may hold spaces and
  // parentheses, so it runs from the first "(" to the last ")".
  static std::optional<Stat> parseStat(std::string_view content);
  // `%a %b %e %H:%M:%S %Y` in the C locale, in UTC: "Sat Dec  5 09:41:07 2026".
  static std::string formatStartTime(std::time_t time);

 private:
  std::optional<Stat> readStat(int32_t pid) const;
  std::optional<ProcessIdentity> identityOf(int32_t pid, const std::optional<Stat>& stat);
  std::optional<std::time_t> bootTime();

  std::string root_;
  std::mutex bootTimeLock_;  // probes run on worker threads as well as the GUI thread
  std::optional<std::time_t> bootTime_;
  long ticksPerSecond_;
};

}  // namespace lumacap
