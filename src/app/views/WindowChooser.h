#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "platform/ScreenSource.h"

namespace lumacap {

// Lists the windows a window capture can take and hands the chosen one back.
// It does not close itself; its host does.
class WindowChooser final : public QWidget {
  Q_OBJECT

 public:
  using Capture = std::function<void(const ShareableWindow&)>;

  explicit WindowChooser(Capture capture, QWidget* parent = nullptr);
  ~WindowChooser() override;

  // The candidates, in the order to show them.
  void setWindows(std::vector<ShareableWindow> windows);
  const std::vector<ShareableWindow>& windows() const { return windows_; }

 private:
  Capture capture_;
  std::vector<ShareableWindow> windows_;
};

}  // namespace lumacap
