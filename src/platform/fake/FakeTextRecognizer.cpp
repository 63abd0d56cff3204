#include "platform/fake/FakeTextRecognizer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <stdexcept>

namespace lumacap {

FakeTextRecognizer::FakeTextRecognizer(std::vector<RecognizedLine> lines) : lines_(std::move(lines)) {}

void FakeTextRecognizer::setLines(std::vector<RecognizedLine> lines) {
  std::lock_guard lock(mutex_);
  lines_ = std::move(lines);
}

void FakeTextRecognizer::setCandidateLines(std::vector<RecognizedLine> lines) {
  std::lock_guard lock(mutex_);
  candidateLines_ = std::move(lines);
}

void FakeTextRecognizer::setFailing(bool failing) {
  std::lock_guard lock(mutex_);
  failing_ = failing;
}

void FakeTextRecognizer::hold() {
  std::lock_guard lock(mutex_);
  held_ = true;
}

void FakeTextRecognizer::release() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  released_.notify_all();
}

std::vector<RecognizedLine> FakeTextRecognizer::recognize(const QImage& image) {
  std::unique_lock lock(mutex_);
  released_.wait(lock, [this] { return !held_; });
  ++calls_;
  lastImageSize_ = image.size();
  lastThread_ = QThread::currentThread();
  lastNiceness_ = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
  if (failing_) throw std::runtime_error("recognition failed");
  return lines_;
}

std::vector<RecognizedLine> FakeTextRecognizer::recognizeSecretCandidates(const QImage& image) {
  {
    std::lock_guard lock(mutex_);
    lastThread_ = QThread::currentThread();
    lastNiceness_ = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    if (candidateLines_) return *candidateLines_;
  }
  return recognize(image);
}

bool FakeTextRecognizer::readsSecretCandidatesApart() const {
  std::lock_guard lock(mutex_);
  return candidateLines_.has_value();
}

int FakeTextRecognizer::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

QSize FakeTextRecognizer::lastImageSize() const {
  std::lock_guard lock(mutex_);
  return lastImageSize_;
}

QThread* FakeTextRecognizer::lastThread() const {
  std::lock_guard lock(mutex_);
  return lastThread_;
}

int FakeTextRecognizer::lastNiceness() const {
  std::lock_guard lock(mutex_);
  return lastNiceness_;
}

}  // namespace lumacap
