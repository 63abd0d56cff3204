#pragma once

#include <cstdlib>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>

namespace lumacap::test {

// Sets or removes environment variables for one scope and gives every one of
// them its earlier value back at the end, so that tests run in one process
// cannot see each other's settings.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  explicit ScopedEnvironment(
      std::initializer_list<std::pair<std::string, std::optional<std::string>>> values) {
    for (const auto& [name, value] : values) set(name, value);
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) apply(name, value);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  // Nothing removes the variable.
  void set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.contains(name)) {
      const char* current = std::getenv(name.c_str());
      saved_[name] = current ? std::optional<std::string>(current) : std::nullopt;
    }
    apply(name, value);
  }

 private:
  static void apply(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace lumacap::test
