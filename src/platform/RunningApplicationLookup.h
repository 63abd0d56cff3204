#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumacap {

// A desktop application: a process that owns a managed top-level window.
struct RunningApplication {
  int32_t pid = 0;
  std::optional<std::string> bundleIdentifier;  // the class part of WM_CLASS

  bool operator==(const RunningApplication&) const = default;
};

// Finds the desktop application that a process id belongs to.
class RunningApplicationLookup {
 public:
  virtual ~RunningApplicationLookup() = default;
  virtual std::optional<RunningApplication> application(int32_t pid) = 0;
};

}  // namespace lumacap
