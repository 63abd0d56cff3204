/* Input for tests on KWin through org_kde_kwin_fake_input (KWin grants it without a
 * desktop entry when started with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1).
 * Reads one command per line and answers "ok" once KWin has processed it:
 *   move X Y        pointer to global layout coordinates
 *   down | up       left button
 *   key C1,C2,...   evdev key codes pressed in order, released in reverse order */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wayland-client.h>

#include "fake-input-client.h"

enum { buttonLeft = 0x110 };

static struct org_kde_kwin_fake_input* fakeInput;

static void announced(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                      uint32_t version) {
  (void)data;
  if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0)
    fakeInput =
        wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, version < 4 ? version : 4);
}

static void removed(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registryListener = {announced, removed};

static void pressKeys(struct wl_display* display, char* codes) {
  uint32_t pressed[16];
  int count = 0;
  for (char* code = strtok(codes, ","); code && count < 16; code = strtok(NULL, ",")) {
    pressed[count] = (uint32_t)strtoul(code, NULL, 10);
    org_kde_kwin_fake_input_keyboard_key(fakeInput, pressed[count++], 1);
    wl_display_roundtrip(display);
  }
  while (count-- > 0) {
    org_kde_kwin_fake_input_keyboard_key(fakeInput, pressed[count], 0);
    wl_display_roundtrip(display);
  }
}

static int perform(struct wl_display* display, char* line) {
  double x, y;
  char codes[256];
  if (sscanf(line, "move %lf %lf", &x, &y) == 2)
    org_kde_kwin_fake_input_pointer_motion_absolute(fakeInput, wl_fixed_from_double(x),
                                                    wl_fixed_from_double(y));
  else if (strncmp(line, "down", 4) == 0)
    org_kde_kwin_fake_input_button(fakeInput, buttonLeft, 1);
  else if (strncmp(line, "up", 2) == 0)
    org_kde_kwin_fake_input_button(fakeInput, buttonLeft, 0);
  else if (sscanf(line, "key %255s", codes) == 1)
    pressKeys(display, codes);
  else
    return 0;
  return wl_display_roundtrip(display) >= 0;
}

int main(void) {
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) {
    fputs("kwin-fake-input: no Wayland display\n", stderr);
    return 2;
  }
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, NULL);
  wl_display_roundtrip(display);
  if (!fakeInput) {
    fputs("kwin-fake-input: KWin does not offer org_kde_kwin_fake_input\n", stderr);
    return 3;
  }
  org_kde_kwin_fake_input_authenticate(fakeInput, "Lumacap tests", "input for automated tests");
  wl_display_roundtrip(display);
  puts("ready");
  fflush(stdout);
  char line[512];
  while (fgets(line, sizeof line, stdin)) {
    puts(perform(display, line) ? "ok" : "error");
    fflush(stdout);
  }
  wl_display_disconnect(display);
  return 0;
}
