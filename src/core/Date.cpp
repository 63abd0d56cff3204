#include "core/Date.h"

#include <chrono>

namespace lumacap {

Date Date::now() {
  using namespace std::chrono;
  const auto sinceEpoch = duration<double>(system_clock::now().time_since_epoch());
  return fromUnixSeconds(sinceEpoch.count());
}

Date Date::fromUnixSeconds(double unixSeconds) { return Date{unixSeconds - referenceDateUnixOffset}; }

double Date::unixSeconds() const { return secondsSinceReferenceDate + referenceDateUnixOffset; }

}  // namespace lumacap
