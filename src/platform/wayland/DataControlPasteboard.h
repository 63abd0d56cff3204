#pragma once

#include <QFuture>
#include <QObject>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

#include "platform/Pasteboard.h"

struct wl_callback;
struct wl_seat;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

namespace lumacap {

class WaylandConnection;

// The clipboard through wlroots' data-control protocol on Lumacap's own
// connection: a selection set this way needs neither focus nor an input
// event, so it works after any capture (KWin, sway and other wlroots
// desktops). The bytes go to each pasting client from a thread of their own,
// so that a large PNG or a slow reader never holds up the GUI thread; nor
// does the compositor's answer to an offer, which comes as an event (a
// compositor busy painting takes tens of milliseconds to read the request).
class DataControlPasteboard final : public Pasteboard {
 public:
  // Null when the compositor offers no data-control or no seat.
  static std::unique_ptr<DataControlPasteboard> create(std::shared_ptr<WaylandConnection> connection);
  ~DataControlPasteboard() override;

  void setText(const std::string& text) override;
  QFuture<bool> setImage(const QImage& image, QFuture<QByteArray> png) override;

  // The contents of one offer: its bytes per type.
  using Contents = std::map<std::string, QFuture<QByteArray>>;

 private:
  DataControlPasteboard(std::shared_ptr<WaylandConnection> connection, zwlr_data_control_manager_v1* manager,
                        wl_seat* seat);
  // Offers `contents`; answers whether the selection holds them once the
  // compositor has handled the request (false when it refused them or gave no
  // answer within `answerPatience`).
  QFuture<bool> offer(Contents contents);
  void dropSource();
  // An offer whose answer is awaited: the compositor's reply to a sync sent
  // right after it.
  struct Answer;
  void settle(Answer* answer, bool held);
  static void answered(void* data, wl_callback* callback, uint32_t);

  static void send(void* data, zwlr_data_control_source_v1* source, const char* type, int32_t fd);
  static void cancelled(void* data, zwlr_data_control_source_v1* source);
  static void dataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
  static void selection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
  static void primarySelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
  static void finished(void* data, zwlr_data_control_device_v1* device);

  std::shared_ptr<WaylandConnection> connection_;
  zwlr_data_control_manager_v1* manager_;
  wl_seat* seat_;
  zwlr_data_control_device_v1* device_ = nullptr;
  zwlr_data_control_source_v1* source_ = nullptr;
  Contents contents_;
  zwlr_data_control_offer_v1* selectionOffer_ = nullptr;
  zwlr_data_control_offer_v1* primaryOffer_ = nullptr;
  std::list<std::unique_ptr<Answer>> answers_;
  uint64_t answerSerial_ = 0;
  QObject deadlines_;  // the context of the answers' deadlines, which end with this
};

// Writes `bytes` (once ready) to `fd` and closes it, on a thread of its own;
// a reader that goes away early ends the write without harm.
void writeWhenReady(int fd, QFuture<QByteArray> bytes);

}  // namespace lumacap
