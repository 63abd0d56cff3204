#include "core/ScreenshotPermission.h"

#include <regex>

namespace lumacap {
namespace {

// The unified cgroup path ("0::/user.slice/…") of /proc/PID/cgroup.
std::string_view unifiedPath(std::string_view procCgroup) {
  while (!procCgroup.empty()) {
    const size_t end = procCgroup.find('\n');
    const std::string_view line = procCgroup.substr(0, end);
    if (line.starts_with("0::")) return line.substr(3);
    if (end == std::string_view::npos) break;
    procCgroup.remove_prefix(end + 1);
  }
  return {};
}

// The user unit as systemd's sd_pid_get_user_unit finds it: the first
// component after "user@UID.service" that is not a slice.
std::string userUnit(std::string_view path) {
  bool insideUserManager = false;
  while (!path.empty()) {
    if (path.front() == '/') {
      path.remove_prefix(1);
      continue;
    }
    const size_t end = path.find('/');
    const std::string_view component = path.substr(0, end);
    if (!insideUserManager) {
      insideUserManager = component.starts_with("user@") && component.ends_with(".service");
      if (!insideUserManager && !component.ends_with(".slice")) return {};
    } else if (!component.ends_with(".slice")) {
      return std::string(component);
    }
    if (end == std::string_view::npos) break;
    path.remove_prefix(end);
  }
  return {};
}

}  // namespace

ScreenshotPermission screenshotPermissionOf(const std::vector<std::string>& stored) {
  if (stored.empty()) return ScreenshotPermission::unset;
  if (stored.front() == "yes") return ScreenshotPermission::granted;
  if (stored.front() == "no") return ScreenshotPermission::refused;
  return ScreenshotPermission::unset;
}

std::string portalApplicationID(std::string_view procCgroup) {
  const std::string unit = userUnit(unifiedPath(procCgroup));
  if (!unit.starts_with("app-")) return {};
  // xdg-desktop-portal 1.16's own pattern (an id has at least three parts).
  static const std::regex pattern(
      R"(^app-(?:[[:alnum:]]+\-)?(.+?\..+?\..+?)(?:[@\-][[:alnum:]]*)?(?:-autostart)?(?:\.scope|\.service|\.slice)$)");
  std::smatch match;
  if (!std::regex_match(unit, match, pattern)) return {};
  return match[1].str();
}

std::string waylandParentWindow(std::string_view handle) {
  if (handle.empty()) return {};
  return "wayland:" + std::string(handle);
}

}  // namespace lumacap
