#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ProcessSource.h"

namespace lumacap {

// Asks /bin/ps, one run per fact: the fallback for systems without /proc.
class PsSource final : public ProcessSource {
 public:
  explicit PsSource(std::string program = "/bin/ps");

  std::optional<ProcessIdentity> inspect(int32_t pid) override;
  std::optional<int32_t> parent(int32_t pid) override;

  // One run of the lister with exactly LC_ALL=C and PATH=/usr/bin:/bin, its
  // standard error discarded. Nothing when it cannot start, exits non-zero or
  // prints invalid UTF-8; otherwise its output trimmed of white space.
  std::optional<std::string> runPS(const std::vector<std::string>& arguments) const;

  // A decimal 32-bit integer with an optional sign, and nothing else.
  static std::optional<int32_t> parseProcessID(std::string_view text);

 private:
  std::optional<std::string> column(int32_t pid, const char* name) const;

  std::string program_;
};

}  // namespace lumacap
