#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/RunningApplicationLookup.h"

namespace lumacap {

// The managed windows of the X display, read once: _NET_CLIENT_LIST with each
// client's _NET_WM_PID and WM_CLASS, all requests in one round of the
// connection. Read-only; no $DISPLAY or no server means no applications.
class XcbWindowList final : public RunningApplicationLookup {
 public:
  // Connects to `display`, or to $DISPLAY when it is empty, on first use.
  explicit XcbWindowList(std::string display = {});

  std::optional<RunningApplication> application(int32_t pid) override;

 private:
  void load();

  std::string display_;
  bool loaded_ = false;
  std::map<int32_t, std::optional<std::string>> classByPid_;
};

}  // namespace lumacap
