#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ScreenGeometry.h"

namespace lumacap {

// One top-level window as a Wayland compositor's own interface describes it
// (a KWin script, sway's IPC).
struct CompositorWindow {
  std::string handle;  // how the compositor names it: KWin's internalId, sway's con_id
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

// The name of the focused output in sway's answer to get_outputs; nothing
// when none is focused or the answer cannot be read.
std::optional<std::string> swayFocusedOutput(const std::string& json);

}  // namespace lumacap
