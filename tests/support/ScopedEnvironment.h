#pragma once

#include <cstdlib>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>

namespace lumacap::test {

// Sets or removes (nothing) environment variables for one scope and gives
// every one its earlier value back at the end, so that tests run in one
// process cannot see each other's settings.
class ScopedEnvironment {
 public:
  using Value = std::optional<std::string>;
  explicit ScopedEnvironment(std::initializer_list<std::pair<std::string, Value>> values = {}) {
    for (const auto& [name, value] : values) set(name, value);
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) apply(name, value);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  void set(const std::string& name, const Value& value) {
    const char* current = std::getenv(name.c_str());
    saved_.try_emplace(name, current ? Value(current) : std::nullopt);
    apply(name, value);
  }

 private:
  static void apply(const std::string& name, const Value& value) {
    value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
  }
  std::map<std::string, Value> saved_;
};

}  // namespace lumacap::test
