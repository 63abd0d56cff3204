#pragma once

#include <cstdint>
#include <string>

#include "platform/wayland/CompositorWindowList.h"
#include "platform/wayland/UnixSocket.h"

namespace lumacap {

// sway's windows through its IPC socket ($SWAYSOCK): get_tree lists them,
// `[con_id=N] focus` activates one. sway renders no single window for other
// programs, so a window is captured by raising it and cutting it from the
// output's screencopy. sway puts its socket in the user's runtime folder;
// a socket anywhere else is not used.
class SwayWindowList final : public CompositorWindowList {
 public:
  SwayWindowList(std::string socketPath, std::string runtimeFolder, IpcBounds bounds = {})
      : socketPath_(std::move(socketPath)), runtimeFolder_(std::move(runtimeFolder)), bounds_(bounds) {}

  std::vector<CompositorWindow> windows() override;
  bool activate(const CompositorWindow& window) override;
  std::optional<std::string> activeOutputName() override;

 private:
  // One IPC message and its answer's payload.
  std::string exchange(uint32_t type, const std::string& payload);

  std::string socketPath_;
  std::string runtimeFolder_;
  IpcBounds bounds_;
};

}  // namespace lumacap
