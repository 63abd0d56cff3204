#include "platform/x11/XcbWindowList.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace lumacap {
namespace {

template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
ReplyPointer<Reply> owned(Reply* reply) {
  return ReplyPointer<Reply>(reply, &std::free);
}

xcb_atom_t internAtom(xcb_connection_t* connection, xcb_intern_atom_cookie_t cookie) {
  auto reply = owned(xcb_intern_atom_reply(connection, cookie, nullptr));
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

}  // namespace

XcbWindowList::XcbWindowList(std::string display) : display_(std::move(display)) {}

std::optional<std::string> XcbWindowList::classPart(std::string_view wmClass) {
  // WM_CLASS holds two NUL-terminated strings: the instance, then the class.
  const size_t separator = wmClass.find('\0');
  if (separator == std::string_view::npos) return std::nullopt;
  std::string_view rest = wmClass.substr(separator + 1);
  if (const size_t end = rest.find('\0'); end != std::string_view::npos) rest = rest.substr(0, end);
  if (rest.empty()) return std::nullopt;
  return std::string(rest);
}

void XcbWindowList::load() {
  loaded_ = true;
  const char* name = display_.empty() ? std::getenv("DISPLAY") : display_.c_str();
  if (!name || !*name) return;
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(name, &screenNumber);
  const auto closer = std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)>(connection, &xcb_disconnect);
  if (xcb_connection_has_error(connection)) return;
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) return;
  const xcb_window_t root = screens.data->root;

  const auto clientListCookie = xcb_intern_atom(connection, 1, 16, "_NET_CLIENT_LIST");
  const auto pidCookie = xcb_intern_atom(connection, 1, 11, "_NET_WM_PID");
  const xcb_atom_t clientListAtom = internAtom(connection, clientListCookie);
  const xcb_atom_t pidAtom = internAtom(connection, pidCookie);
  if (clientListAtom == XCB_ATOM_NONE || pidAtom == XCB_ATOM_NONE) return;

  auto list = owned(xcb_get_property_reply(
      connection,
      xcb_get_property(connection, 0, root, clientListAtom, XCB_ATOM_WINDOW, 0, 1 << 16), nullptr));
  if (!list || list->format != 32) return;
  const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
  const int count = xcb_get_property_value_length(list.get()) / 4;

  std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> cookies;
  cookies.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    cookies.emplace_back(
        xcb_get_property(connection, 0, windows[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1),
        xcb_get_property(connection, 0, windows[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256));
  }
  for (const auto& [pidCookieOfWindow, classCookie] : cookies) {
    auto pidReply = owned(xcb_get_property_reply(connection, pidCookieOfWindow, nullptr));
    auto classReply = owned(xcb_get_property_reply(connection, classCookie, nullptr));
    if (!pidReply || pidReply->format != 32 || xcb_get_property_value_length(pidReply.get()) < 4) {
      continue;
    }
    const auto pid = static_cast<int32_t>(*static_cast<const uint32_t*>(xcb_get_property_value(pidReply.get())));
    std::optional<std::string> bundle;
    if (classReply && classReply->format == 8) {
      const auto* bytes = static_cast<const char*>(xcb_get_property_value(classReply.get()));
      bundle = classPart(std::string_view(bytes, static_cast<size_t>(xcb_get_property_value_length(classReply.get()))));
    }
    // The first window listed for a process with a class names it.
    auto [entry, inserted] = classByPid_.try_emplace(pid, bundle);
    if (!inserted && !entry->second) entry->second = std::move(bundle);
  }
}

std::optional<RunningApplication> XcbWindowList::application(int32_t pid) {
  if (!loaded_) load();
  const auto found = classByPid_.find(pid);
  if (found == classByPid_.end()) return std::nullopt;
  return RunningApplication{pid, found->second};
}

}  // namespace lumacap
