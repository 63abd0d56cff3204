#pragma once

#include <map>
#include <vector>

#include "platform/Workspace.h"

namespace lumacap {

// Desktop applications set up by a test; records every activation request.
class FakeWorkspace final : public Workspace {
 public:
  void add(const DesktopApplication& application) { applications_[application.pid] = application; }
  void setFrontmost(std::optional<int32_t> pid) { frontmost_ = pid; }
  // The user brings an application to the front: it becomes frontmost and
  // the observer hears of it.
  void userActivates(int32_t pid);
  // What activate() answers.
  void setActivationSent(bool sent) { activationSent_ = sent; }
  void setWindowTitle(int32_t pid, std::string title) { titles_[pid] = std::move(title); }

  std::optional<DesktopApplication> application(int32_t pid) override;
  std::optional<DesktopApplication> frontmostApplication() override;
  QFuture<bool> activate(const DesktopApplication& application) override;
  bool isTerminated(const DesktopApplication& application) override;
  std::optional<std::string> windowTitle(int32_t pid) override;
  void observeActivations(ActivationObserver observer) override { observer_ = std::move(observer); }

  // The process ids of the applications asked to activate, in order.
  const std::vector<int32_t>& activations() const { return activations_; }

 private:
  std::map<int32_t, DesktopApplication> applications_;
  std::optional<int32_t> frontmost_;
  bool activationSent_ = true;
  std::vector<int32_t> activations_;
  std::map<int32_t, std::string> titles_;
  ActivationObserver observer_;
};

}  // namespace lumacap
