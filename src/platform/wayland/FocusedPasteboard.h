#pragma once

#include <QFuture>
#include <QMimeData>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <QTimer>
#include <QWindow>
#include <memory>
#include <optional>

#include "platform/Pasteboard.h"

namespace lumacap {

// The clipboard through Qt's own Wayland connection, on a desktop without
// data-control (GNOME): the compositor takes an offer only from the client
// with the keyboard focus, made with the serial of a recent input event, and
// drops any other without a word. So an image is offered only from an input
// handler: the region overlay claims the selection as the user finishes the
// drag (`claimClipboardFromInput`), or one of our windows has the focus (the
// preview's Copy Image). A capture the desktop's shortcut asked for comes with
// the shortcut's activation token ($XDG_ACTIVATION_TOKEN, lent by the
// instance's activation): a small window of ours presents it, takes the focus
// just long enough to offer the image, and closes, which gives the focus back
// (the compositor keeps the selection of a client that lost the focus). It
// counts as copied once the compositor announced the new selection back to
// us; otherwise the answer is no.
class FocusedPasteboard final : public QObject, public Pasteboard {
 public:
  // `confirmation`: how long the compositor's announcement may take.
  explicit FocusedPasteboard(std::chrono::milliseconds confirmation = std::chrono::milliseconds(1500));
  ~FocusedPasteboard() override;

  void setText(const std::string& text) override;
  QFuture<bool> setImage(const QImage& image, QFuture<QByteArray> png) override;

  // Offers an image that is still to come, from an input handler.
  void claim();

 private:
  class PendingImage;
  struct Offer {
    QPointer<QMimeData> data;
    bool confirmed = false;
    std::optional<QPromise<bool>> answer;
  };

  bool borrowFocus(QFuture<QByteArray> png);
  void focusChanged(QWindow* window);
  void publish(QMimeData* data);
  void clipboardChanged();
  void answer(bool held);

  std::chrono::milliseconds confirmation_;
  Offer offer_;
  QPointer<PendingImage> claimed_;
  bool settingOurs_ = false;
  QTimer deadline_;
  // The window that borrowed the focus with an activation token, and the
  // image it offers once it has it.
  std::unique_ptr<QWindow> borrower_;
  std::optional<QFuture<QByteArray>> borrowedFor_;
};

}  // namespace lumacap
