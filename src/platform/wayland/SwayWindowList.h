#pragma once

#include <cstdint>
#include <string>

#include "platform/wayland/CompositorWindowList.h"

namespace lumacap {

// sway's windows through its IPC socket ($SWAYSOCK): get_tree lists them,
// `[con_id=N] focus` activates one. sway renders no single window for other
// programs, so a window is captured by raising it and cutting it from the
// output's screencopy.
class SwayWindowList final : public CompositorWindowList {
 public:
  explicit SwayWindowList(std::string socketPath) : socketPath_(std::move(socketPath)) {}

  std::vector<CompositorWindow> windows() override;
  bool activate(const CompositorWindow& window) override;
  std::optional<std::string> activeOutputName() override;

 private:
  // One IPC message and its answer's payload.
  std::string exchange(uint32_t type, const std::string& payload);

  std::string socketPath_;
};

}  // namespace lumacap
