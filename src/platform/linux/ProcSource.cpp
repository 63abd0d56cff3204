#include "platform/linux/ProcSource.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace lumacap {
namespace {

// Reads up to `limit` bytes, growing the buffer only as the file does (/proc
// files report no size, and most are tiny).
std::optional<std::string> readSmallFile(const std::string& path, size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string content;
  char chunk[8192];
  while (content.size() < limit) {
    const ssize_t got = ::read(fd, chunk, std::min(sizeof chunk, limit - content.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    content.append(chunk, static_cast<size_t>(got));
  }
  ::close(fd);
  return content;
}

template <typename Number>
std::optional<Number> parseNumber(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The n-th (0-based) space-separated field of text.
std::string_view field(std::string_view text, int n) {
  size_t start = 0;
  for (int i = 0; i < n; ++i) {
    start = text.find(' ', start);
    if (start == std::string_view::npos) return {};
    ++start;
  }
  const size_t end = text.find(' ', start);
  return text.substr(start, end == std::string_view::npos ? text.size() - start : end - start);
}

}  // namespace

ProcSource::ProcSource(std::string procRoot)
    : root_(std::move(procRoot)), ticksPerSecond_(::sysconf(_SC_CLK_TCK)) {}

bool ProcSource::available() { return ::access("/proc/self/stat", R_OK) == 0; }

std::optional<ProcSource::Stat> ProcSource::parseStat(std::string_view content) {
  const size_t open = content.find('(');
  const size_t close = content.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::nullopt;
  }
  // After ") " come: state(3) ppid(4) ... starttime(22), numbered from 1 with pid.
  std::string_view rest = content.substr(close + 1);
  if (!rest.starts_with(' ')) return std::nullopt;
  rest.remove_prefix(1);
  const auto parentId = parseNumber<int32_t>(field(rest, 1));
  const auto startTicks = parseNumber<unsigned long long>(field(rest, 19));
  if (!parentId || !startTicks) return std::nullopt;
  return Stat{std::string(content.substr(open + 1, close - open - 1)), *parentId, *startTicks};
}

std::string ProcSource::formatStartTime(std::time_t time) {
  static constexpr const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm parts{};
  ::gmtime_r(&time, &parts);
  char text[40];
  std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", days[parts.tm_wday], months[parts.tm_mon],
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, parts.tm_year + 1900);
  return text;
}

std::optional<ProcSource::Stat> ProcSource::readStat(int32_t pid) const {
  if (pid < 2) return std::nullopt;
  const auto content = readSmallFile(root_ + "/" + std::to_string(pid) + "/stat", 4096);
  if (!content) return std::nullopt;
  return parseStat(*content);
}

std::optional<std::time_t> ProcSource::bootTime() {
  const std::lock_guard lock(bootTimeLock_);
  if (bootTime_) return bootTime_;
  const auto content = readSmallFile(root_ + "/stat", 1 << 20);
  if (!content) return std::nullopt;
  const size_t line = content->find("\nbtime ");
  if (line == std::string::npos) return std::nullopt;
  const size_t start = line + 7;
  const size_t end = content->find('\n', start);
  bootTime_ = parseNumber<std::time_t>(std::string_view(*content).substr(start, end - start));
  return bootTime_;
}

std::optional<ProcessIdentity> ProcSource::inspect(int32_t pid) { return identityOf(pid, readStat(pid)); }

ProcessSource::Probe ProcSource::probe(int32_t pid) {
  const auto stat = readStat(pid);
  return {identityOf(pid, stat), stat ? std::optional(stat->parent) : std::nullopt};
}

std::optional<ProcessIdentity> ProcSource::identityOf(int32_t pid, const std::optional<Stat>& stat) {
  const auto boot = bootTime();
  if (!stat || !boot || stat->command.empty() || ticksPerSecond_ <= 0) return std::nullopt;
  const auto started =
      *boot + static_cast<std::time_t>(stat->startTicks / static_cast<unsigned long long>(ticksPerSecond_));
  return ProcessIdentity{pid, stat->command, formatStartTime(started)};
}

std::optional<int32_t> ProcSource::parent(int32_t pid) {
  const auto stat = readStat(pid);
  if (!stat) return std::nullopt;
  return stat->parent;
}

std::optional<std::filesystem::path> ProcSource::executablePath(int32_t pid) {
  if (pid < 2) return std::nullopt;
  std::error_code error;
  auto path = std::filesystem::read_symlink(root_ + "/" + std::to_string(pid) + "/exe", error);
  if (error) return std::nullopt;
  return path;
}

std::optional<std::vector<std::string>> ProcSource::arguments(int32_t pid) {
  if (pid < 2) return std::nullopt;
  const auto content = readSmallFile(root_ + "/" + std::to_string(pid) + "/cmdline", 65536);
  if (!content || content->empty()) return std::nullopt;
  std::vector<std::string> list;
  for (size_t start = 0; start < content->size();) {
    const size_t end = std::min(content->find('\0', start), content->size());
    list.emplace_back(*content, start, end - start);
    start = end + 1;
  }
  return list;
}

std::vector<int32_t> ProcSource::processIDs(size_t limit) {
  std::vector<int32_t> ids;
  DIR* folder = ::opendir(root_.c_str());
  if (!folder) return ids;
  while (ids.size() < limit) {
    const dirent* entry = ::readdir(folder);
    if (!entry) break;
    if (const auto pid = parseNumber<int32_t>(entry->d_name); pid && *pid >= 2) ids.push_back(*pid);
  }
  ::closedir(folder);
  return ids;
}

std::optional<uint32_t> ProcSource::owner(int32_t pid) {
  if (pid < 2) return std::nullopt;
  // The line comes ninth, within the first few hundred bytes.
  const auto content = readSmallFile(root_ + "/" + std::to_string(pid) + "/status", 2048);
  if (!content) return std::nullopt;
  const size_t line = content->find("\nUid:\t");
  if (line == std::string::npos) return std::nullopt;
  const size_t start = line + 6;
  const size_t end = content->find_first_of("\t\n", start);
  if (end == std::string::npos) return std::nullopt;
  return parseNumber<uint32_t>(std::string_view(*content).substr(start, end - start));
}

std::optional<std::filesystem::path> ProcSource::workingFolder(int32_t pid) {
  if (pid < 2) return std::nullopt;
  std::error_code error;
  auto path = std::filesystem::read_symlink(root_ + "/" + std::to_string(pid) + "/cwd", error);
  if (error || !path.is_absolute()) return std::nullopt;
  return path;
}

}  // namespace lumacap
