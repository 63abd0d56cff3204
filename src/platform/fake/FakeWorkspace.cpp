#include "platform/fake/FakeWorkspace.h"

#include <QFuture>

#include "platform/ReadyFuture.h"

namespace lumacap {

std::optional<DesktopApplication> FakeWorkspace::application(int32_t pid) {
  const auto found = applications_.find(pid);
  if (found == applications_.end()) return std::nullopt;
  return found->second;
}

std::optional<DesktopApplication> FakeWorkspace::frontmostApplication() {
  if (!frontmost_) return std::nullopt;
  return application(*frontmost_);
}

QFuture<bool> FakeWorkspace::activate(const DesktopApplication& application) {
  activations_.push_back(application.pid);
  return readyFuture(activationSent_);
}

void FakeWorkspace::userActivates(int32_t pid) {
  frontmost_ = pid;
  if (const auto activated = application(pid); activated && observer_) observer_(*activated);
}

bool FakeWorkspace::isTerminated(const DesktopApplication&) { return false; }

std::optional<std::string> FakeWorkspace::windowTitle(int32_t pid) {
  const auto found = titles_.find(pid);
  if (found == titles_.end()) return std::nullopt;
  return found->second;
}

}  // namespace lumacap
