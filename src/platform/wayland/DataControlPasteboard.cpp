#include "platform/wayland/DataControlPasteboard.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QImage>
#include <QPromise>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/ReadyFuture.h"
#include "platform/wayland/WaylandConnection.h"
#include "wayland-generated/wlr-data-control-unstable-v1-client.h"

namespace lumacap {
namespace {

// A reader that stops reading for this long is given up.
constexpr int stalledReaderMs = 10000;
// A compositor that has not answered an offer within this long is taken not to hold it.
constexpr std::chrono::milliseconds answerPatience{5000};

bool writeAll(int fd, const QByteArray& bytes) {
  qsizetype written = 0;
  while (written < bytes.size()) {
    const ssize_t wrote =
        ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
    if (wrote > 0) {
      written += wrote;
    } else if (wrote < 0 && errno == EAGAIN) {
      pollfd ready{fd, POLLOUT, 0};
      if (::poll(&ready, 1, stalledReaderMs) <= 0) return false;
    } else if (wrote < 0 && errno == EINTR) {
      continue;
    } else {
      return false;  // EPIPE: the reader closed its end
    }
  }
  return true;
}

}  // namespace

struct DataControlPasteboard::Answer {
  uint64_t serial = 0;
  zwlr_data_control_source_v1* source = nullptr;
  wl_callback* callback = nullptr;
  bool refused = false;  // cancelled by the compositor before it answered
  QPromise<bool> promise;
};

void writeWhenReady(int fd, QFuture<QByteArray> bytes) {
  std::thread([fd, bytes]() mutable {
    // A reader that closes early must not end the process with SIGPIPE: the
    // signal stays blocked on this thread and a pending one is taken back.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    bytes.waitForFinished();
    if (bytes.resultCount() > 0 && !writeAll(fd, bytes.result())) {
      const timespec now{0, 0};
      sigtimedwait(&pipe, nullptr, &now);
    }
    ::close(fd);
  }).detach();
}

std::unique_ptr<DataControlPasteboard> DataControlPasteboard::create(
    std::shared_ptr<WaylandConnection> connection) {
  if (!connection) return nullptr;
  auto* manager =
      static_cast<zwlr_data_control_manager_v1*>(connection->bind(zwlr_data_control_manager_v1_interface, 1));
  auto* seat = static_cast<wl_seat*>(connection->bind(wl_seat_interface, 1));
  if (!manager || !seat) {
    if (manager) zwlr_data_control_manager_v1_destroy(manager);
    if (seat) wl_seat_destroy(seat);
    return nullptr;
  }
  return std::unique_ptr<DataControlPasteboard>(
      new DataControlPasteboard(std::move(connection), manager, seat));
}

DataControlPasteboard::DataControlPasteboard(std::shared_ptr<WaylandConnection> connection,
                                             zwlr_data_control_manager_v1* manager, wl_seat* seat)
    : connection_(std::move(connection)), manager_(manager), seat_(seat) {
  static const zwlr_data_control_device_v1_listener deviceListener{
      &DataControlPasteboard::dataOffer, &DataControlPasteboard::selection, &DataControlPasteboard::finished,
      &DataControlPasteboard::primarySelection};
  device_ = zwlr_data_control_manager_v1_get_data_device(manager_, seat_);
  zwlr_data_control_device_v1_add_listener(device_, &deviceListener, this);
  connection_->roundtrip();
}

DataControlPasteboard::~DataControlPasteboard() {
  while (!answers_.empty()) settle(answers_.front().get(), false);
  dropSource();
  if (selectionOffer_) zwlr_data_control_offer_v1_destroy(selectionOffer_);
  if (primaryOffer_) zwlr_data_control_offer_v1_destroy(primaryOffer_);
  if (device_) zwlr_data_control_device_v1_destroy(device_);
  zwlr_data_control_manager_v1_destroy(manager_);
  wl_seat_destroy(seat_);
  connection_->flush();
}

void DataControlPasteboard::setText(const std::string& text) {
  const QFuture<QByteArray> bytes = readyFuture(QByteArray::fromStdString(text));
  offer({{"text/plain;charset=utf-8", bytes}, {"text/plain", bytes}, {"UTF8_STRING", bytes}});
}

QFuture<bool> DataControlPasteboard::setImage(const QImage&, QFuture<QByteArray> png) {
  return offer({{"image/png", std::move(png)}});
}

QFuture<bool> DataControlPasteboard::offer(Contents contents) {
  if (!device_) return readyFuture(false);
  dropSource();
  static const zwlr_data_control_source_v1_listener sourceListener{&DataControlPasteboard::send,
                                                                   &DataControlPasteboard::cancelled};
  source_ = zwlr_data_control_manager_v1_create_data_source(manager_);
  zwlr_data_control_source_v1_add_listener(source_, &sourceListener, this);
  for (const auto& [type, bytes] : contents) zwlr_data_control_source_v1_offer(source_, type.c_str());
  contents_ = std::move(contents);
  zwlr_data_control_device_v1_set_selection(device_, source_);
  // Once the compositor has answered the sync that follows, a source it did
  // not cancel meanwhile is the selection.
  static const wl_callback_listener answerListener{&DataControlPasteboard::answered};
  auto& answer = *answers_.emplace_back(std::make_unique<Answer>());
  answer.serial = ++answerSerial_;
  answer.source = source_;
  answer.callback = wl_display_sync(connection_->display());
  wl_callback_add_listener(answer.callback, &answerListener, this);
  answer.promise.start();
  QTimer::singleShot(answerPatience, &deadlines_, [this, serial = answer.serial] {
    for (const auto& pending : answers_) {
      if (pending->serial == serial) return settle(pending.get(), false);
    }
  });
  connection_->flush();
  return answer.promise.future();
}

void DataControlPasteboard::answered(void* data, wl_callback* callback, uint32_t) {
  auto& self = *static_cast<DataControlPasteboard*>(data);
  for (const auto& answer : self.answers_) {
    if (answer->callback == callback) return self.settle(answer.get(), !answer->refused);
  }
}

void DataControlPasteboard::settle(Answer* answer, bool held) {
  answer->promise.addResult(held);
  answer->promise.finish();
  if (answer->callback) wl_callback_destroy(answer->callback);
  answers_.remove_if([answer](const std::unique_ptr<Answer>& pending) { return pending.get() == answer; });
}

void DataControlPasteboard::dropSource() {
  if (source_) zwlr_data_control_source_v1_destroy(source_);
  source_ = nullptr;
  contents_.clear();
}

void DataControlPasteboard::send(void* data, zwlr_data_control_source_v1* source, const char* type,
                                 int32_t fd) {
  auto& self = *static_cast<DataControlPasteboard*>(data);
  const auto found = self.contents_.find(type);
  if (source != self.source_ || found == self.contents_.end()) {
    ::close(fd);
    return;
  }
  writeWhenReady(fd, found->second);
}

// Another client took the selection: our offer is gone for good.
void DataControlPasteboard::cancelled(void* data, zwlr_data_control_source_v1* source) {
  auto& self = *static_cast<DataControlPasteboard*>(data);
  for (const auto& answer : self.answers_) {
    if (answer->source == source) answer->refused = true;
  }
  if (source == self.source_) {
    self.dropSource();
  } else {
    zwlr_data_control_source_v1_destroy(source);
  }
}

// Offers of other clients are only announced to us; they are never read.
void DataControlPasteboard::dataOffer(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {}

void DataControlPasteboard::selection(void* data, zwlr_data_control_device_v1*,
                                      zwlr_data_control_offer_v1* offer) {
  auto& self = *static_cast<DataControlPasteboard*>(data);
  if (self.selectionOffer_) zwlr_data_control_offer_v1_destroy(self.selectionOffer_);
  self.selectionOffer_ = offer;
}

void DataControlPasteboard::primarySelection(void* data, zwlr_data_control_device_v1*,
                                             zwlr_data_control_offer_v1* offer) {
  auto& self = *static_cast<DataControlPasteboard*>(data);
  if (self.primaryOffer_) zwlr_data_control_offer_v1_destroy(self.primaryOffer_);
  self.primaryOffer_ = offer;
}

// The compositor ended the device (the seat went away): nothing can be offered.
void DataControlPasteboard::finished(void* data, zwlr_data_control_device_v1* device) {
  auto& self = *static_cast<DataControlPasteboard*>(data);
  self.dropSource();
  zwlr_data_control_device_v1_destroy(device);
  self.device_ = nullptr;
}

}  // namespace lumacap
