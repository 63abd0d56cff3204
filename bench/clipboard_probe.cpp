// Times one command the way a user feels it, for scripts/paste-bench:
//
//   clipboard_probe paste -- COMMAND…   from starting COMMAND until the
//       CLIPBOARD owner has changed and its whole image/png has been read
//       (INCR transfers included); prints "MILLISECONDS BYTES".
//   clipboard_probe map -- COMMAND…     from starting COMMAND until a window
//       as large as the screen is mapped; prints "MILLISECONDS PID" and
//       leaves COMMAND running.
//   clipboard_probe run -- COMMAND…     from starting COMMAND until it exits;
//       prints "MILLISECONDS RESIDENT_KB" (its peak resident memory).
//
// A client of its own, so that every tool is measured by the same reader.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

template <typename T>
using Owned = std::unique_ptr<T, decltype(&std::free)>;
template <typename T>
Owned<T> owned(T* pointer) {
  return Owned<T>(pointer, &std::free);
}

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "clipboard_probe: %s\n", message.c_str());
  std::exit(1);
}

xcb_atom_t atom(xcb_connection_t* x, const char* name) {
  auto reply =
      owned(xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, uint16_t(std::strlen(name)), name), nullptr));
  if (!reply) fail(std::string("no atom ") + name);
  return reply->atom;
}

// Starts COMMAND with its output going nowhere: a clipboard owner that stays
// behind (xclip) must not hold the probe's own output open.
pid_t start(char** command) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, command[0], &actions, nullptr, command, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) fail("cannot start the command");
  return pid;
}

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Owned<xcb_generic_event_t> nextEvent(xcb_connection_t* x) {
  auto event = owned(xcb_wait_for_event(x));
  if (!event) fail("the X connection was lost");
  return event;
}

// Reads the property the owner wrote, deleting it as it goes; follows INCR.
size_t readTransfer(xcb_connection_t* x, xcb_window_t window, xcb_atom_t property, xcb_atom_t incr) {
  auto reply = owned(xcb_get_property_reply(
      x, xcb_get_property(x, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, ~0u / 4), nullptr));
  if (!reply) fail("the selection property is missing");
  if (reply->type != incr) return size_t(xcb_get_property_value_length(reply.get()));
  size_t total = 0;
  for (;;) {
    auto event = nextEvent(x);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) continue;
    auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
    if (notify->atom != property || notify->state != XCB_PROPERTY_NEW_VALUE) continue;
    auto chunk = owned(xcb_get_property_reply(
        x, xcb_get_property(x, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, ~0u / 4), nullptr));
    if (!chunk) fail("an INCR chunk is missing");
    const auto length = size_t(xcb_get_property_value_length(chunk.get()));
    if (length == 0) return total;
    total += length;
  }
}

int paste(char** command) {
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x)) fail("no X display");
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
  const xcb_atom_t clipboard = atom(x, "CLIPBOARD"), png = atom(x, "image/png"), incr = atom(x, "INCR"),
                   property = atom(x, "LUMACAP_PROBE");
  const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
  const xcb_window_t window = xcb_generate_id(x);
  xcb_create_window(x, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
  const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(x, &xcb_xfixes_id);
  if (!xfixes || !xfixes->present) fail("no XFixes");
  owned(xcb_xfixes_query_version_reply(x, xcb_xfixes_query_version(x, 5, 0), nullptr));
  xcb_xfixes_select_selection_input(x, window, clipboard,
                                    XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
  owned(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));

  const auto started = Clock::now();
  const pid_t child = start(command);
  for (;;) {
    auto event = nextEvent(x);
    if (event->response_type == xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY) break;
  }
  size_t bytes = 0;
  for (int attempt = 0; attempt < 50 && bytes == 0; ++attempt) {
    xcb_convert_selection(x, window, clipboard, png, property, XCB_CURRENT_TIME);
    xcb_flush(x);
    for (;;) {
      auto event = nextEvent(x);
      if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY) continue;
      auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event.get());
      if (notify->property != XCB_NONE) bytes = readTransfer(x, window, property, incr);
      break;
    }
  }
  const double elapsed = millisecondsSince(started);
  waitpid(child, nullptr, 0);
  if (bytes == 0) fail("no image/png on the clipboard");
  std::printf("%.1f %zu\n", elapsed, bytes);
  xcb_disconnect(x);
  return 0;
}

int mapped(char** command) {
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x)) fail("no X display");
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
  const uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &events);
  owned(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
  const auto started = Clock::now();
  const pid_t child = start(command);
  for (;;) {
    auto event = nextEvent(x);
    if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY) continue;
    const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event.get());
    auto geometry = owned(xcb_get_geometry_reply(x, xcb_get_geometry(x, map->window), nullptr));
    if (geometry && geometry->width >= screen->width_in_pixels &&
        geometry->height >= screen->height_in_pixels)
      break;
  }
  std::printf("%.1f %d\n", millisecondsSince(started), child);
  xcb_disconnect(x);
  return 0;
}

int run(char** command) {
  const auto started = Clock::now();
  const pid_t child = start(command);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  std::printf("%.2f %ld\n", millisecondsSince(started), usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || std::string_view(argv[2]) != "--") fail("usage: clipboard_probe paste|map|run -- COMMAND…");
  const std::string_view mode = argv[1];
  if (mode == "paste") return paste(argv + 3);
  if (mode == "map") return mapped(argv + 3);
  if (mode == "run") return run(argv + 3);
  fail("unknown mode " + std::string(mode));
}
