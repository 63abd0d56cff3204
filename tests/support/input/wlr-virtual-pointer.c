/* A virtual pointer for tests on wlroots compositors (zwlr_virtual_pointer_manager_v1).
 * usage: wlr-virtual-pointer WIDTH HEIGHT   (the extent of the output layout)
 * Reads one command per line and answers "ok" once the compositor has processed it:
 *   move X Y   pointer to global layout coordinates
 *   down | up  left button
 * Kept running, it also gives the headless seat its pointer. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

#include "wlr-virtual-pointer-unstable-v1-client.h"

enum { buttonLeft = 0x110 };

static struct zwlr_virtual_pointer_manager_v1* manager;
static struct wl_seat* seat;

static void announced(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                      uint32_t version) {
  (void)data, (void)version;
  if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
    manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
  else if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
    seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
}

static void removed(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registryListener = {announced, removed};

static uint32_t milliseconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint32_t)(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs("usage: wlr-virtual-pointer WIDTH HEIGHT\n", stderr);
    return 1;
  }
  const uint32_t width = (uint32_t)atoi(argv[1]), height = (uint32_t)atoi(argv[2]);
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) {
    fputs("wlr-virtual-pointer: no Wayland display\n", stderr);
    return 2;
  }
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, NULL);
  wl_display_roundtrip(display);
  if (!manager) {
    fputs("wlr-virtual-pointer: no zwlr_virtual_pointer_manager_v1\n", stderr);
    return 3;
  }
  struct zwlr_virtual_pointer_v1* pointer =
      zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
  wl_display_roundtrip(display);
  puts("ready");
  fflush(stdout);
  char line[256];
  while (fgets(line, sizeof line, stdin)) {
    double x, y;
    int known = 1;
    if (sscanf(line, "move %lf %lf", &x, &y) == 2)
      zwlr_virtual_pointer_v1_motion_absolute(pointer, milliseconds(), (uint32_t)(x + 0.5),
                                              (uint32_t)(y + 0.5), width, height);
    else if (strncmp(line, "down", 4) == 0)
      zwlr_virtual_pointer_v1_button(pointer, milliseconds(), buttonLeft, WL_POINTER_BUTTON_STATE_PRESSED);
    else if (strncmp(line, "up", 2) == 0)
      zwlr_virtual_pointer_v1_button(pointer, milliseconds(), buttonLeft, WL_POINTER_BUTTON_STATE_RELEASED);
    else
      known = 0;
    if (known) zwlr_virtual_pointer_v1_frame(pointer);
    puts(known && wl_display_roundtrip(display) >= 0 ? "ok" : "error");
    fflush(stdout);
  }
  zwlr_virtual_pointer_v1_destroy(pointer);
  wl_display_roundtrip(display);
  wl_display_disconnect(display);
  return 0;
}
