#include "platform/fake/FakeProcessSource.h"

namespace lumacap {

void FakeProcessSource::add(const ProcessIdentity& identity, int32_t parent) {
  const std::lock_guard guard(lock_);
  processes_[identity.pid] = {identity, parent};
}

void FakeProcessSource::remove(int32_t pid) {
  const std::lock_guard guard(lock_);
  processes_.erase(pid);
}

void FakeProcessSource::holdProbes() {
  const std::lock_guard guard(lock_);
  held_ = true;
}

void FakeProcessSource::releaseProbes() {
  {
    const std::lock_guard guard(lock_);
    held_ = false;
  }
  released_.notify_all();
}

std::optional<ProcessIdentity> FakeProcessSource::inspect(int32_t pid) {
  ++inspections_;
  std::unique_lock guard(lock_);
  released_.wait(guard, [this] { return !held_; });
  const auto found = processes_.find(pid);
  if (pid < 2 || found == processes_.end()) return std::nullopt;
  return found->second.first;
}

std::optional<int32_t> FakeProcessSource::parent(int32_t pid) {
  const std::lock_guard guard(lock_);
  const auto found = processes_.find(pid);
  if (found == processes_.end()) return std::nullopt;
  return found->second.second;
}

}  // namespace lumacap
