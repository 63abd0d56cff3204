#pragma once

#include <stdexcept>
#include <string>

namespace lumacap {

// A failure of this program's own, whose what() is the sentence the user sees.
class ProgramError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure of one of a fixed set of kinds, each with one sentence.
template <typename KindType>
class KindedError : public ProgramError {
 public:
  using Kind = KindType;
  Kind kind() const { return kind_; }
  bool operator==(const KindedError& other) const { return kind_ == other.kind_; }

 protected:
  KindedError(Kind kind, const char* description) : ProgramError(description), kind_(kind) {}
  KindedError(Kind kind, const std::string& description) : ProgramError(description), kind_(kind) {}

 private:
  Kind kind_;
};

}  // namespace lumacap
