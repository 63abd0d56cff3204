#pragma once

#include <QWidget>
#include <memory>

#include "platform/PermissionWindow.h"

namespace lumacap {

// The small window that stands in front while GNOME asks, once, whether
// Lumacap may take screenshots: it says what the question is for, and
// GNOME's dialog is attached to it. Made on first use.
class ScreenshotPermissionWindow final : public PermissionWindow {
 public:
  static constexpr const char* title = "Lumacap — Screenshots";

  ScreenshotPermissionWindow();
  ~ScreenshotPermissionWindow() override;

  QWindow* show() override;
  void close() override;

  // The window once it was made (for tests).
  QWidget* widget() const { return widget_.get(); }

 private:
  std::unique_ptr<QWidget> widget_;
};

}  // namespace lumacap
