#pragma once

#include <compare>

namespace lumacap {

// An instant as seconds since 2001-01-01 00:00:00 UTC, the form every file of
// ours stores. Kept as the same double that reaches the file, so that decoding
// gives back exactly the instant that was encoded.
struct Date {
  double secondsSinceReferenceDate = 0;

  static Date now();
  static Date fromUnixSeconds(double unixSeconds);
  double unixSeconds() const;

  auto operator<=>(const Date&) const = default;
};

// Seconds between 1970-01-01 and 2001-01-01, both UTC.
inline constexpr double referenceDateUnixOffset = 978307200.0;

}  // namespace lumacap
