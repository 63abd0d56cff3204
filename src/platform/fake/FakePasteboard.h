#pragma once

#include <QImage>
#include <QPromise>
#include <deque>
#include <optional>
#include <string>

#include "platform/Pasteboard.h"

namespace lumacap {

// An in-memory clipboard that remembers what was written last.
class FakePasteboard final : public Pasteboard {
 public:
  void setText(const std::string& text) override;
  QFuture<bool> setImage(const QImage& image, QFuture<QByteArray> png) override;
  void setImage(const QImage& image) { setImage(image, {}); }
  // What the next image writes answer: reached at once (the default), not
  // reached, or an answer that comes when the test gives it.
  enum class Answer { reached, refused, later };
  void answerImages(Answer answer) { answer_ = answer; }
  // Gives the answer to the earliest write still waiting for one.
  void answerPending(bool reached);

  const std::optional<std::string>& text() const { return text_; }
  const std::optional<QImage>& image() const { return image_; }
  // The PNG bytes offered with the image (empty when none were given).
  QByteArray png() const;
  int writes() const { return writes_; }

 private:
  std::optional<std::string> text_;
  std::optional<QImage> image_;
  QFuture<QByteArray> png_;
  int writes_ = 0;
  Answer answer_ = Answer::reached;
  std::deque<QPromise<bool>> pending_;
};

}  // namespace lumacap
