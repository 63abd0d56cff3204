#pragma once

#include <QFuture>
#include <QPromise>
#include <type_traits>
#include <utility>

#include "platform/ReadyFuture.h"

namespace lumacap {

// A future that already holds `value`: what readyFuture gives, under a name
// that neither Qt 6.4 lacks (makeReadyValueFuture came with 6.6) nor Qt 6.8 deprecates.
template <typename T>
QFuture<std::decay_t<T>> readyFuture(T&& value) {
  QPromise<std::decay_t<T>> promise;
  promise.start();
  promise.addResult(std::forward<T>(value));
  promise.finish();
  return promise.future();
}

// A finished future of no value.
inline QFuture<void> readyFuture() {
  QPromise<void> promise;
  promise.start();
  promise.finish();
  return promise.future();
}

}  // namespace lumacap
