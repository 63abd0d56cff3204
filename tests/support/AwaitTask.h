#pragma once

#include <QCoreApplication>
#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>

namespace lumacap::test {

namespace detail {
// Lets the event loop run for a moment without spinning the processor.
inline void spin() {
  QEventLoop loop;
  QTimer::singleShot(5, &loop, &QEventLoop::quit);
  loop.exec();
}

template <typename T>
QCoro::Task<> settle(QCoro::Task<T>* task, std::optional<T>* result, std::exception_ptr* error, bool* done) {
  try {
    *result = co_await *task;
  } catch (...) {
    *error = std::current_exception();
  }
  *done = true;
}
}  // namespace detail

// Runs the event loop until `task` ends; gives its result or rethrows its
// error (QCoro::waitFor would swallow the error and wait forever).
template <typename T>
T awaitTask(QCoro::Task<T>& task, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  std::optional<T> result;
  std::exception_ptr error;
  bool done = false;
  auto settling = detail::settle(&task, &result, &error, &done);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done) {
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("task did not finish in time");
    detail::spin();
  }
  if (error) std::rethrow_exception(error);
  return std::move(*result);
}

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

}  // namespace lumacap::test
