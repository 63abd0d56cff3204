#pragma once

#include <QFuture>
#include <QObject>
#include <QPromise>
#include <chrono>
#include <memory>
#include <vector>

#include "platform/ProcessSource.h"
#include "platform/Workspace.h"
#include "platform/linux/DesktopEntries.h"
#include "platform/wayland/CompositorWindowList.h"

class QThreadPool;

namespace lumacap {

// The desktop applications of a Wayland compositor that lists and activates
// windows for ordinary programs (KWin through scripts, sway through IPC): a
// process is an application while it owns a window the compositor lists.
// Lookups answer at once from the list read last, and have the compositor
// asked again on a worker when it is older than a moment or lacks the
// process; `refreshed` is awaited where a fresh list matters (the capture's
// start). Activation requests go out in order from one worker.
// The compositor announces no activations, so none are observed.
class CompositorWorkspace final : public Workspace {
 public:
  CompositorWorkspace(std::shared_ptr<CompositorWindowList> list, ProcessSource& processes);
  ~CompositorWorkspace() override;

  QFuture<void> refreshed() override;
  std::optional<DesktopApplication> application(int32_t pid) override;
  std::optional<DesktopApplication> frontmostApplication() override;
  QFuture<bool> activate(const DesktopApplication& application) override;
  bool isTerminated(const DesktopApplication& application) override;
  std::optional<std::string> windowTitle(int32_t pid) override;
  void observeActivations(ActivationObserver) override {}

  // The window of this application to bring to the front: the first of its
  // windows in the list's order (the lists give them front-most first), a
  // minimized one included (activating restores it).
  static std::optional<CompositorWindow> windowToActivate(const std::vector<CompositorWindow>& windows,
                                                          int32_t pid);

 private:
  // The windows as listed lately; has them listed again when the list is
  // older than a moment or, with `pid`, lacks that process.
  const std::vector<CompositorWindow>& windows(std::optional<int32_t> pid = std::nullopt);
  std::optional<DesktopApplication> applicationOf(const CompositorWindow& window);

  std::shared_ptr<CompositorWindowList> list_;
  ProcessSource& processes_;
  std::unique_ptr<QThreadPool> activationThread_;
  // Where listings are taken in, on the GUI thread.
  std::unique_ptr<QObject> answers_;
  // The listing under way, if any.
  std::shared_ptr<QPromise<void>> refreshing_;
  std::shared_ptr<DesktopEntries> desktopEntries_;
  QFuture<void> desktopEntriesRead_;
  std::vector<CompositorWindow> listed_;
  std::chrono::steady_clock::time_point listedAt_;
};

}  // namespace lumacap
