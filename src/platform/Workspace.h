#pragma once

#include <QFuture>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/ReadyFuture.h"

namespace lumacap {

// A desktop application: a process that owns a managed top-level window.
struct DesktopApplication {
  int32_t pid = 0;
  std::optional<std::string> bundleIdentifier;  // the class part of WM_CLASS
  std::optional<std::string> localizedName;     // from its desktop entry, else the class
  // The process's start time when it was looked up, so that a later process
  // that reuses the id is not taken for it. Empty when it could not be read.
  std::string started;

  bool operator==(const DesktopApplication&) const = default;
};

// The running desktop applications.
class Workspace {
 public:
  virtual ~Workspace() = default;

  // Where the lookups below answer from what the desktop listed last (a
  // compositor's window list, asked on a worker): asks it again unless it
  // just did; the future ends once the lookups answer from that listing, or
  // the desktop did not answer in time. Elsewhere it ends at once.
  virtual QFuture<void> refreshed() { return readyFuture(); }

  // The application whose windows carry this process id, if there is one.
  virtual std::optional<DesktopApplication> application(int32_t pid) = 0;
  // The application that owns the active window, if any.
  virtual std::optional<DesktopApplication> frontmostApplication() = 0;
  // Asks the window manager to activate the application's most recently
  // active window, unless its process has ended; answers whether the request
  // was sent. The request is made on a worker, in the order of the calls.
  virtual QFuture<bool> activate(const DesktopApplication& application) = 0;
  // Whether its process no longer exists with the same start time.
  virtual bool isTerminated(const DesktopApplication& application) = 0;
  // The title of the one window this process owns; nothing when it owns none
  // or several (a title would not tell which of them is meant).
  virtual std::optional<std::string> windowTitle(int32_t pid) = 0;

  // Called on the GUI thread each time another application becomes frontmost.
  using ActivationObserver = std::function<void(const DesktopApplication&)>;
  virtual void observeActivations(ActivationObserver observer) = 0;
};

}  // namespace lumacap
