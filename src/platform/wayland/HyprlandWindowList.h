#pragma once

#include <string>

#include "platform/wayland/CompositorWindowList.h"
#include "platform/wayland/UnixSocket.h"

namespace lumacap {

// Hyprland's windows through its IPC socket, the one hyprctl uses: a
// connection takes one request ("j/clients" for JSON) and the whole answer,
// after which Hyprland closes it. `j/clients` and `j/monitors` list the
// windows, `dispatch focuswindow address:0x…` activates one. Hyprland renders
// no single window for other programs, so a window is captured by raising it
// and cutting it from the output's screencopy.
class HyprlandWindowList final : public CompositorWindowList {
 public:
  // The socket of the instance `signature` ($HYPRLAND_INSTANCE_SIGNATURE):
  // in the runtime folder since Hyprland 0.40, in /tmp/hypr before, where it
  // is used only when the folders /tmp/hypr and its instance's are the
  // user's, closed to writes by others, and the socket is the user's.
  HyprlandWindowList(const std::string& runtimeDirectory, const std::string& signature,
                     IpcBounds bounds = {});

  std::vector<CompositorWindow> windows() override;
  bool activate(const CompositorWindow& window) override;
  std::optional<std::string> activeOutputName() override;

 private:
  // Hyprland's answer to one request.
  std::string request(const std::string& command) const;

  std::string runtimeDirectory_;
  std::string runtimeSocket_;
  std::string temporarySocket_;
  IpcBounds bounds_;
};

}  // namespace lumacap
