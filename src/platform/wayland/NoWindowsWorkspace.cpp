#include "platform/wayland/NoWindowsWorkspace.h"

#include <QFuture>

#include "platform/ReadyFuture.h"

namespace lumacap {

QFuture<bool> NoWindowsWorkspace::activate(const DesktopApplication&) { return readyFuture(false); }

bool NoWindowsWorkspace::isTerminated(const DesktopApplication& application) {
  const auto identity = processes_.inspect(application.pid);
  return !identity || identity->started != application.started;
}

}  // namespace lumacap
