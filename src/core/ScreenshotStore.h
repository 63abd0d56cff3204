#pragma once

#include <stdexcept>

namespace lumacap {

// The history store's own failures, each with the text the user sees.
class StoreError : public std::runtime_error {
 public:
  enum class Kind { invalidIndex, missingCapture };
  explicit StoreError(Kind kind);
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

}  // namespace lumacap
