#pragma once

class QWindow;

namespace lumacap {

// Lumacap's own window that stands in front while the desktop asks the user
// a one-time question for Lumacap (GNOME: whether it may take screenshots);
// the desktop's dialog is attached to it. The view layer provides it.
class PermissionWindow {
 public:
  virtual ~PermissionWindow() = default;
  // Shows the window with the focus; the shown window.
  virtual QWindow* show() = 0;
  virtual void close() = 0;
};

}  // namespace lumacap
