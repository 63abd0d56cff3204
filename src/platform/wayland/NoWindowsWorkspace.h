#pragma once

#include "platform/ProcessSource.h"
#include "platform/Workspace.h"

namespace lumacap {

// The running applications on a desktop that shows programs no window list: none is known,
// none is frontmost and none can be activated. Processes are still told apart by /proc.
class NoWindowsWorkspace final : public Workspace {
 public:
  explicit NoWindowsWorkspace(ProcessSource& processes) : processes_(processes) {}
  std::optional<DesktopApplication> application(int32_t) override { return std::nullopt; }
  std::optional<DesktopApplication> frontmostApplication() override { return std::nullopt; }
  QFuture<bool> activate(const DesktopApplication&) override;
  bool isTerminated(const DesktopApplication& application) override;
  std::optional<std::string> windowTitle(int32_t) override { return std::nullopt; }
  void observeActivations(ActivationObserver) override {}

 private:
  ProcessSource& processes_;
};

}  // namespace lumacap
