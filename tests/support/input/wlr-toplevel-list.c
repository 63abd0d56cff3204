/* The windows of a wlroots compositor without an IPC of its own (labwc), through
 * zwlr_foreign_toplevel_manager_v1, printed as one JSON array:
 *   [{"title":…,"app":…,"focused":bool,"x":…,"y":…,"w":…,"h":…},…]
 * The protocol tells no window's process or place: a window shown full screen or maximized on one
 * output is given that output's area, any other none (0×0). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wayland-client.h>

#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

enum { maxOutputs = 8, maxWindows = 256 };

struct output {
  struct wl_output* proxy;
  int x, y, width, height;
};

struct window {
  char *title, *app;
  int activated, whole; /* whole: full screen or maximized */
  int outputs, output;  /* how many outputs it entered, and the last one */
  int closed;
};

static struct output outputs[maxOutputs];
static int outputCount;
static struct window windows[maxWindows];
static int windowCount;
static struct zwlr_foreign_toplevel_manager_v1* manager;

static void outputGeometry(void* data, struct wl_output* proxy, int32_t x, int32_t y, int32_t mmWidth,
                           int32_t mmHeight, int32_t subpixel, const char* make, const char* model,
                           int32_t transform) {
  (void)proxy, (void)mmWidth, (void)mmHeight, (void)subpixel, (void)make, (void)model, (void)transform;
  struct output* output = data;
  output->x = x, output->y = y;
}
static void outputMode(void* data, struct wl_output* proxy, uint32_t flags, int32_t width, int32_t height,
                       int32_t refresh) {
  (void)proxy, (void)refresh;
  struct output* output = data;
  if (flags & WL_OUTPUT_MODE_CURRENT) output->width = width, output->height = height;
}
static void outputDone(void* data, struct wl_output* proxy) { (void)data, (void)proxy; }
static void outputScale(void* data, struct wl_output* proxy, int32_t factor) {
  (void)data, (void)proxy, (void)factor;
}
static const struct wl_output_listener outputListener = {
    .geometry = outputGeometry, .mode = outputMode, .done = outputDone, .scale = outputScale};

static void setText(char** field, const char* text) {
  free(*field);
  *field = strdup(text);
}
static void windowTitle(void* data, struct zwlr_foreign_toplevel_handle_v1* handle, const char* title) {
  (void)handle;
  setText(&((struct window*)data)->title, title);
}
static void windowApp(void* data, struct zwlr_foreign_toplevel_handle_v1* handle, const char* app) {
  (void)handle;
  setText(&((struct window*)data)->app, app);
}
static void windowOutputEnter(void* data, struct zwlr_foreign_toplevel_handle_v1* handle,
                              struct wl_output* proxy) {
  (void)handle;
  struct window* window = data;
  for (int index = 0; index < outputCount; ++index)
    if (outputs[index].proxy == proxy) window->output = index, ++window->outputs;
}
static void windowOutputLeave(void* data, struct zwlr_foreign_toplevel_handle_v1* handle,
                              struct wl_output* proxy) {
  (void)handle, (void)proxy;
  --((struct window*)data)->outputs;
}
static void windowState(void* data, struct zwlr_foreign_toplevel_handle_v1* handle, struct wl_array* states) {
  (void)handle;
  struct window* window = data;
  window->activated = window->whole = 0;
  uint32_t* state;
  wl_array_for_each(state, states) {
    if (*state == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) window->activated = 1;
    if (*state == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_FULLSCREEN ||
        *state == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MAXIMIZED)
      window->whole = 1;
  }
}
static void windowDone(void* data, struct zwlr_foreign_toplevel_handle_v1* handle) {
  (void)data, (void)handle;
}
static void windowClosed(void* data, struct zwlr_foreign_toplevel_handle_v1* handle) {
  (void)handle;
  ((struct window*)data)->closed = 1;
}
static void windowParent(void* data, struct zwlr_foreign_toplevel_handle_v1* handle,
                         struct zwlr_foreign_toplevel_handle_v1* parent) {
  (void)data, (void)handle, (void)parent;
}
static const struct zwlr_foreign_toplevel_handle_v1_listener windowListener = {
    windowTitle, windowApp,  windowOutputEnter, windowOutputLeave,
    windowState, windowDone, windowClosed,      windowParent};

static void toplevel(void* data, struct zwlr_foreign_toplevel_manager_v1* proxy,
                     struct zwlr_foreign_toplevel_handle_v1* handle) {
  (void)data, (void)proxy;
  if (windowCount == maxWindows) return;
  zwlr_foreign_toplevel_handle_v1_add_listener(handle, &windowListener, &windows[windowCount++]);
}
static void finished(void* data, struct zwlr_foreign_toplevel_manager_v1* proxy) { (void)data, (void)proxy; }
static const struct zwlr_foreign_toplevel_manager_v1_listener managerListener = {toplevel, finished};

static void announced(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                      uint32_t version) {
  (void)data;
  if (strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
    manager = wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                               version < 3 ? version : 3);
    zwlr_foreign_toplevel_manager_v1_add_listener(manager, &managerListener, NULL);
  } else if (strcmp(interface, wl_output_interface.name) == 0 && outputCount < maxOutputs) {
    struct output* output = &outputs[outputCount++];
    output->proxy = wl_registry_bind(registry, name, &wl_output_interface, 2);
    wl_output_add_listener(output->proxy, &outputListener, output);
  }
}
static void removed(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}
static const struct wl_registry_listener registryListener = {announced, removed};

static void printString(const char* text) {
  putchar('"');
  for (const unsigned char* c = (const unsigned char*)(text ? text : ""); *c; ++c) {
    if (*c == '"' || *c == '\\')
      printf("\\%c", *c);
    else if (*c < 0x20)
      printf("\\u%04x", *c);
    else
      putchar(*c);
  }
  putchar('"');
}

int main(void) {
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) {
    fputs("wlr-toplevel-list: no Wayland display\n", stderr);
    return 2;
  }
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, NULL);
  /* the globals; the outputs' and the windows' first state; what the windows entered */
  for (int round = 0; round < 3; ++round) wl_display_roundtrip(display);
  if (!manager) {
    fputs("wlr-toplevel-list: no zwlr_foreign_toplevel_manager_v1\n", stderr);
    return 3;
  }
  putchar('[');
  int first = 1;
  for (int index = 0; index < windowCount; ++index) {
    const struct window* window = &windows[index];
    if (window->closed) continue;
    const struct output* area = window->whole && window->outputs == 1 ? &outputs[window->output] : NULL;
    printf("%s{\"title\":", first ? "" : ",");
    printString(window->title);
    printf(",\"app\":");
    printString(window->app);
    printf(",\"focused\":%s,\"x\":%d,\"y\":%d,\"w\":%d,\"h\":%d}", window->activated ? "true" : "false",
           area ? area->x : 0, area ? area->y : 0, area ? area->width : 0, area ? area->height : 0);
    first = 0;
  }
  puts("]");
  wl_display_disconnect(display);
  return 0;
}
