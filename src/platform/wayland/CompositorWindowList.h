#pragma once

#include <QImage>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/CompositorWindows.h"
#include "core/DesktopBackend.h"

namespace lumacap {

// A compositor's own interface to its windows (a KWin script, sway's or
// Hyprland's IPC), for the compositors that give one to ordinary programs.
// Every call blocks until the compositor answered and may be made on any
// thread but the GUI thread.
class CompositorWindowList {
 public:
  virtual ~CompositorWindowList() = default;

  // The top-level windows, front-most first. Throws when the compositor did
  // not answer.
  virtual std::vector<CompositorWindow> windows() = 0;
  // Gives the window the focus and raises it; whether the compositor did.
  virtual bool activate(const CompositorWindow& window) = 0;
  // The pixels of the window alone at full density, where the compositor
  // renders single windows for us; nothing where it does not.
  virtual std::optional<QImage> windowImage(const CompositorWindow&) { return std::nullopt; }
  // The name of the output the compositor treats as the user's current one
  // (KWin: the pointer's; sway: the focused one), as Wayland names outputs;
  // nothing when it cannot tell.
  virtual std::optional<std::string> activeOutputName() { return std::nullopt; }
};

// The window list of this desktop: KWin's scripts, sway's IPC (the facts'
// $SWAYSOCK), Hyprland's ($HYPRLAND_INSTANCE_SIGNATURE); none where the
// compositor gives ordinary programs no window list.
std::shared_ptr<CompositorWindowList> makeCompositorWindowList(Desktop desktop, const DesktopFacts& facts);

}  // namespace lumacap
