#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>

namespace lumacap {

// The kinds of capture, in menu order.
enum class CaptureMode { region, window, display };

// A capture's own failures, each with the sentence the user sees.
class CaptureError : public std::runtime_error {
 public:
  enum class Kind { permission, noDisplay, invalidRegion };
  explicit CaptureError(Kind kind);
  Kind kind() const { return kind_; }

  static const char* description(Kind kind);
  bool operator==(const CaptureError& other) const { return kind_ == other.kind_; }

 private:
  Kind kind_;
};

}  // namespace lumacap

template <>
struct std::hash<lumacap::CaptureError> {
  size_t operator()(const lumacap::CaptureError& error) const noexcept {
    return std::hash<int>()(static_cast<int>(error.kind()));
  }
};
