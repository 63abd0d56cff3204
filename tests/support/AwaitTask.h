#pragma once

#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace lumacap::test {

// Runs the event loop until `condition` holds or `timeout` passes. Events
// already waiting are handled before the first look: what the test did last
// is seen by this process before it goes on.
template <typename Condition>
bool processEventsUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    QEventLoop loop;  // a moment of events without spinning the processor
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
    if (condition()) return true;
  } while (std::chrono::steady_clock::now() <= deadline);
  return false;
}

// Lets the event loop run for `duration`.
inline void processEventsFor(std::chrono::milliseconds duration) {
  processEventsUntil([] { return false; }, duration);
}

// Runs the event loop until `task` ends; gives its result or rethrows its
// error. Throws when it has not ended after `timeout` (QCoro::waitFor would
// wait forever, and swallow the error).
template <typename T>
T awaitTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
  std::exception_ptr error;
  // A named lambda: the coroutine it starts reads its captures until it ends.
  const auto settle = [&]() -> QCoro::Task<> {
    try {
      if constexpr (std::is_void_v<T>) {
        co_await task;
        value = true;
      } else {
        value = co_await task;
      }
    } catch (...) {
      error = std::current_exception();
    }
  };
  auto settling = settle();
  if (!processEventsUntil([&] { return value.has_value() || error; }, timeout)) {
    throw std::runtime_error("the task did not finish within " + std::to_string(timeout.count()) + " ms");
  }
  if (error) std::rethrow_exception(error);
  if constexpr (!std::is_void_v<T>) return std::move(*value);
}

}  // namespace lumacap::test
