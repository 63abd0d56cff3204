#pragma once

#include <QCoreApplication>
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

namespace detail {
// Lets the event loop run for a moment without spinning the processor.
inline void spin() {
  QEventLoop loop;
  QTimer::singleShot(5, &loop, &QEventLoop::quit);
  loop.exec();
}

template <typename T>
struct Settled {
  std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
  std::exception_ptr error;
  bool done = false;
};

template <typename T>
QCoro::Task<> settle(QCoro::Task<T>& task, Settled<T>& out) {
  try {
    if constexpr (std::is_void_v<T>) {
      co_await task;
      out.value = true;
    } else {
      out.value = co_await task;
    }
  } catch (...) {
    out.error = std::current_exception();
  }
  out.done = true;
}
}  // namespace detail

// Runs the event loop until `condition` holds or `timeout` passes.
template <typename Condition>
bool processEventsUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    detail::spin();
  }
  return true;
}

// Lets the event loop run for `duration`.
inline void processEventsFor(std::chrono::milliseconds duration) {
  processEventsUntil([] { return false; }, duration);
}

// Runs the event loop until `task` ends; gives its result or rethrows its
// error. Throws when it has not ended after `timeout` (QCoro::waitFor would
// wait forever, and swallow the error).
template <typename T>
T awaitTask(QCoro::Task<T>& task, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  detail::Settled<T> out;
  auto settling = detail::settle(task, out);
  if (!processEventsUntil([&] { return out.done; }, timeout)) {
    throw std::runtime_error("the task did not finish within " + std::to_string(timeout.count()) + " ms");
  }
  if (out.error) std::rethrow_exception(out.error);
  if constexpr (!std::is_void_v<T>) return std::move(*out.value);
}

template <typename T>
T awaitTask(QCoro::Task<T>&& task, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  return awaitTask(task, timeout);
}

}  // namespace lumacap::test
