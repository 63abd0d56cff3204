#pragma once

#include <QFuture>
#include <memory>
#include <vector>

#include "platform/ProcessSource.h"
#include "platform/Workspace.h"
#include "platform/linux/DesktopEntries.h"
#include "platform/x11/XcbConnection.h"

class QSocketNotifier;
class QThreadPool;

namespace lumacap {

// The desktop applications of an EWMH window manager, through its own xcb
// connection: a process is an application while it owns a managed window.
// Watches the root's _NET_ACTIVE_WINDOW so that it knows which window of an
// application was active last. Lives on the GUI thread; activation requests
// go out from one worker thread on a second connection, so that the GUI never
// waits for the window system to answer them.
class X11Workspace final : public Workspace {
 public:
  // Connects to `display`, or to $DISPLAY when it is empty; without a display
  // there are no applications.
  X11Workspace(const std::string& display, ProcessSource& processes);
  ~X11Workspace() override;

  std::optional<DesktopApplication> application(int32_t pid) override;
  std::optional<DesktopApplication> frontmostApplication() override;
  QFuture<bool> activate(const DesktopApplication& application) override;
  bool isTerminated(const DesktopApplication& application) override;
  std::optional<std::string> windowTitle(int32_t pid) override;
  void observeActivations(ActivationObserver observer) override { observer_ = std::move(observer); }

 private:
  void readEvents();
  void noteActivation(xcb_window_t window);
  std::optional<std::string> localizedName(const std::string& windowClass);
  void announceFrontmost(xcb_window_t active);

  XcbConnection connection_;
  std::shared_ptr<XcbConnection> activationConnection_;  // used on `activationThread_` only
  std::unique_ptr<QThreadPool> activationThread_;
  ProcessSource& processes_;
  // Read on a worker when the workspace starts; the first name lookup waits for it.
  std::shared_ptr<DesktopEntries> desktopEntries_;
  QFuture<void> desktopEntriesRead_;
  ActivationObserver observer_;
  std::optional<int32_t> frontmostPid_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::vector<xcb_window_t> activationOrder_;  // windows in the order they were last active, oldest first
};

}  // namespace lumacap
