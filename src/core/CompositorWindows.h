#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ScreenGeometry.h"

namespace lumacap {

// One top-level window as a Wayland compositor's own interface describes it
// (a KWin script, sway's or Hyprland's IPC).
struct CompositorWindow {
  std::string handle;  // how the compositor names it: KWin's internalId, sway's con_id, Hyprland's address
  int32_t pid = 0;
  std::string appClass;  // KWin's resourceClass, sway's app_id (X11 class for Xwayland windows)
  std::string title;
  Rect frame;           // the client area without decoration, in global logical points
  bool active = false;  // has the keyboard focus
  bool visible = true;  // on a shown workspace and not minimized
  bool operator==(const CompositorWindow&) const = default;
};

// The report of Lumacap's KWin listing script: a JSON array of windows bottom
// to top ({id, pid, resourceClass, caption, x, y, width, height, active,
// minimized}). Answers them front-most first. Throws a one-line error for a
// report that is not such an array.
std::vector<CompositorWindow> parseKWinWindowList(const std::string& json);

// The windows of sway's get_tree answer (nodes with a pid), front-most first:
// floating windows above tiled ones, and within each, the most recently
// focused first. Throws a one-line error for a tree it cannot read.
std::vector<CompositorWindow> parseSwayTree(const std::string& json);

// Whether sway's answer to run_command reports every command succeeded.
bool swayCommandSucceeded(const std::string& json);

// The windows of Hyprland's `j/clients` answer, front-most first: in the order
// they last had the focus (focusHistoryID 0 first, never focused last).
// Visible: mapped, not hidden (a group's other tabs are), and on a workspace a
// monitor of the `j/monitors` answer shows (its active or special one).
// Active: the most recently focused window, when visible (on a workspace
// without windows the focus history still names one elsewhere). Throws a
// one-line error for answers it cannot read.
std::vector<CompositorWindow> parseHyprlandClients(const std::string& clientsJson,
                                                   const std::string& monitorsJson);

// The name of the output marked focused in a compositor's list of outputs
// (sway's get_outputs, Hyprland's `j/monitors`); nothing when none is or the
// answer cannot be read.
std::optional<std::string> focusedOutputName(const std::string& outputsJson);

}  // namespace lumacap
