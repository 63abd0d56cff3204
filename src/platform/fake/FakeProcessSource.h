#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/ProcessSource.h"

namespace lumacap {

// A process table set up by a test. Safe to probe from worker threads.
class FakeProcessSource final : public ProcessSource {
 public:
  void add(const ProcessIdentity& identity, int32_t parent = 1);
  void remove(int32_t pid);

  std::optional<ProcessIdentity> inspect(int32_t pid) override;
  std::optional<int32_t> parent(int32_t pid) override;

  int inspections() const { return inspections_; }
  // While held, probes wait (on their worker thread) until released.
  void holdProbes();
  void releaseProbes();

 private:
  std::mutex lock_;
  std::map<int32_t, std::pair<ProcessIdentity, int32_t>> processes_;
  std::atomic<int> inspections_ = 0;
  std::condition_variable released_;
  bool held_ = false;
};

}  // namespace lumacap
