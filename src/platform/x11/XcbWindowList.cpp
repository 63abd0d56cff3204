#include "platform/x11/XcbWindowList.h"

#include "platform/x11/XcbConnection.h"

namespace lumacap {

XcbWindowList::XcbWindowList(std::string display) : display_(std::move(display)) {}

void XcbWindowList::load() {
  loaded_ = true;
  XcbConnection connection(display_);
  if (!connection.connected()) return;
  for (ManagedWindow& window : connection.managedWindows("_NET_CLIENT_LIST")) {
    if (!window.pid) continue;
    // The first window listed for a process with a class names it.
    auto [entry, inserted] = classByPid_.try_emplace(*window.pid, window.windowClass);
    if (!inserted && !entry->second) entry->second = std::move(window.windowClass);
  }
}

std::optional<RunningApplication> XcbWindowList::application(int32_t pid) {
  if (!loaded_) load();
  const auto found = classByPid_.find(pid);
  if (found == classByPid_.end()) return std::nullopt;
  return RunningApplication{pid, found->second};
}

}  // namespace lumacap
