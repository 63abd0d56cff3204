#pragma once

#include <QCoroTask>

#include <exception>
#include <optional>
#include <utility>
#include "support/AwaitTask.h"

namespace lumacap::test {

// The result of a task run to its end on a nested event loop, or the
// exception it ended with.
template <typename T>
struct TaskOutcome {
  std::optional<T> value;
  std::exception_ptr error;

  template <typename Error>
  bool failedWith() const {
    if (!error) return false;
    try {
      std::rethrow_exception(error);
    } catch (const Error&) {
      return true;
    } catch (...) {
      return false;
    }
  }
};

template <typename T>
QCoro::Task<TaskOutcome<T>> capture(QCoro::Task<T> task) {
  TaskOutcome<T> outcome;
  try {
    outcome.value = co_await std::move(task);
  } catch (...) {
    outcome.error = std::current_exception();
  }
  co_return outcome;
}

template <typename T>
TaskOutcome<T> runTask(QCoro::Task<T> task) {
  return test::awaitTask(capture(std::move(task)));
}

}  // namespace lumacap::test
