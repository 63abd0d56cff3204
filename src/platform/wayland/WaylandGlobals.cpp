#include "platform/wayland/WaylandGlobals.h"

#include <wayland-client.h>

namespace lumacap {
namespace {

void rememberInterface(void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
  static_cast<std::set<std::string>*>(data)->insert(interface);
}

void ignoreRemoval(void*, wl_registry*, uint32_t) {}

const wl_registry_listener listener = {rememberInterface, ignoreRemoval};

}  // namespace

std::set<std::string> waylandGlobals() {
  std::set<std::string> globals;
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return globals;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &listener, &globals);
  wl_display_roundtrip(display);
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return globals;
}

}  // namespace lumacap
