#include "platform/wayland/WaylandConnection.h"

#include <wayland-client.h>

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <algorithm>
#include <cstring>

namespace lumacap {
namespace {

void announced(void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
  static_cast<std::vector<WaylandConnection::Global>*>(data)->push_back({name, interface, version});
}

void removed(void* data, wl_registry*, uint32_t name) {
  auto& globals = *static_cast<std::vector<WaylandConnection::Global>*>(data);
  std::erase_if(globals, [name](const WaylandConnection::Global& global) { return global.name == name; });
}

const wl_registry_listener registryListener{announced, removed};

}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open() {
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return nullptr;
  std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display));
  if (!connection->roundtrip()) return nullptr;
  return connection;
}

WaylandConnection::WaylandConnection(wl_display* display) : display_(display) {
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &registryListener, &globals_);
  notifier_ = new QSocketNotifier(wl_display_get_fd(display_), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &WaylandConnection::dispatch);
  // Requests made from the GUI thread go out before it waits for events.
  if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &WaylandConnection::flush);
  }
}

WaylandConnection::~WaylandConnection() {
  delete notifier_;
  wl_registry_destroy(registry_);
  wl_display_disconnect(display_);
}

bool WaylandConnection::offers(const std::string& interface) const { return !globals(interface).empty(); }

std::vector<WaylandConnection::Global> WaylandConnection::globals(const std::string& interface) const {
  std::vector<Global> matching;
  std::copy_if(globals_.begin(), globals_.end(), std::back_inserter(matching),
               [&](const Global& global) { return global.interface == interface; });
  return matching;
}

void* WaylandConnection::bind(const wl_interface& interface, uint32_t version) const {
  const std::vector<Global> matching = globals(interface.name);
  return matching.empty() ? nullptr : bind(matching.front(), interface, version);
}

void* WaylandConnection::bind(const Global& global, const wl_interface& interface, uint32_t version) const {
  return wl_registry_bind(registry_, global.name, &interface, std::min(version, global.version));
}

bool WaylandConnection::roundtrip() { return wl_display_roundtrip(display_) >= 0; }

void WaylandConnection::flush() { wl_display_flush(display_); }

void WaylandConnection::dispatch() {
  if (wl_display_prepare_read(display_) == 0) {
    wl_display_read_events(display_);
  }
  if (wl_display_dispatch_pending(display_) < 0) notifier_->setEnabled(false);  // the compositor went away
  wl_display_flush(display_);
}

}  // namespace lumacap
