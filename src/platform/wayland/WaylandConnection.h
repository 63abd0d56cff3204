#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_interface;
class QSocketNotifier;

namespace lumacap {

// A connection of Lumacap's own to the Wayland compositor, beside Qt's: for
// the protocols Qt does not speak (data-control, layer-shell). Its events are
// dispatched on the GUI thread, from the event loop.
class WaylandConnection final : public QObject {
 public:
  struct Global {
    uint32_t name = 0;
    std::string interface;
    uint32_t version = 0;
  };

  // Null when no compositor answers at WAYLAND_DISPLAY.
  static std::unique_ptr<WaylandConnection> open();
  ~WaylandConnection() override;
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  wl_display* display() const { return display_; }
  bool offers(const std::string& interface) const;
  // Binds the first global of `interface` at `version` or the compositor's,
  // whichever is lower; null when it has none.
  void* bind(const wl_interface& interface, uint32_t version) const;
  // Every global of `interface` (outputs, seats).
  std::vector<Global> globals(const std::string& interface) const;
  void* bind(const Global& global, const wl_interface& interface, uint32_t version) const;

  // Sends what is queued and waits until the compositor has handled it,
  // dispatching the events it sent meanwhile. False once the connection broke.
  bool roundtrip();
  // Sends what is queued without waiting.
  void flush();

 private:
  explicit WaylandConnection(wl_display* display);
  void dispatch();

  wl_display* display_;
  wl_registry* registry_ = nullptr;
  std::vector<Global> globals_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace lumacap
