#pragma once

#include <QSize>
#include <QThread>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "platform/TextRecognizer.h"

namespace lumacap {

// Answers every recognition with fixed lines, or fails, and remembers the last
// call (the image size, the thread it ran on and that thread's niceness).
class FakeTextRecognizer final : public TextRecognizer {
 public:
  explicit FakeTextRecognizer(std::vector<RecognizedLine> lines = {});

  void setLines(std::vector<RecognizedLine> lines);
  // Once set, recognizeSecretCandidates() answers these at once, held or not;
  // until then it reads everything as recognize() does.
  void setCandidateLines(std::vector<RecognizedLine> lines);
  void setFailing(bool failing);  // recognize() then throws std::runtime_error

  // While held, recognize() waits until release().
  void hold();
  void release();

  std::vector<RecognizedLine> recognize(const QImage& image) override;
  std::vector<RecognizedLine> recognizeSecretCandidates(const QImage& image) override;
  bool readsSecretCandidatesApart() const override;

  int calls() const;
  QSize lastImageSize() const;
  QThread* lastThread() const;
  int lastNiceness() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
  std::vector<RecognizedLine> lines_;
  std::optional<std::vector<RecognizedLine>> candidateLines_;
  bool failing_ = false;
  int calls_ = 0;
  QSize lastImageSize_;
  QThread* lastThread_ = nullptr;
  int lastNiceness_ = 0;
};

}  // namespace lumacap
