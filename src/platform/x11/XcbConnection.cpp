#include "platform/x11/XcbConnection.h"

namespace lumacap {

XcbConnection::XcbConnection(const std::string& display) {
  const char* name = display.empty() ? std::getenv("DISPLAY") : display.c_str();
  if (!name || !*name) return;
  int screenNumber = 0;
  connection_.reset(xcb_connect(name, &screenNumber));
  if (xcb_connection_has_error(connection_.get())) {
    connection_.reset();
    return;
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_.get()));
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) {
    connection_.reset();
    return;
  }
  root_ = screens.data->root;
  screenNumber_ = screenNumber;
}

xcb_atom_t XcbConnection::atom(std::string_view name, bool onlyIfExists) {
  if (!connected()) return XCB_ATOM_NONE;
  {
    const std::lock_guard lock(atomsLock_);
    if (const auto known = atoms_.find(name); known != atoms_.end()) return known->second;
  }
  const auto cookie = xcb_intern_atom(connection_.get(), onlyIfExists ? 1 : 0,
                                      static_cast<uint16_t>(name.size()), name.data());
  const auto reply = xcbOwned(xcb_intern_atom_reply(connection_.get(), cookie, nullptr));
  if (!reply || reply->atom == XCB_ATOM_NONE) return XCB_ATOM_NONE;
  const std::lock_guard lock(atomsLock_);
  atoms_.emplace(std::string(name), reply->atom);
  return reply->atom;
}

void XcbConnection::prefetchAtoms(std::initializer_list<std::string_view> names) {
  if (!connected()) return;
  const std::lock_guard lock(atomsLock_);
  std::vector<std::pair<std::string_view, xcb_intern_atom_cookie_t>> pending;
  for (const std::string_view name : names) {
    if (atoms_.contains(name)) continue;
    pending.emplace_back(
        name, xcb_intern_atom(connection_.get(), 1, static_cast<uint16_t>(name.size()), name.data()));
  }
  for (const auto& [name, cookie] : pending) {
    const auto reply = xcbOwned(xcb_intern_atom_reply(connection_.get(), cookie, nullptr));
    if (reply && reply->atom != XCB_ATOM_NONE) atoms_.emplace(std::string(name), reply->atom);
  }
}

std::optional<std::string> XcbConnection::classPart(std::string_view wmClass) {
  // WM_CLASS holds two NUL-terminated strings: the instance, then the class.
  const size_t separator = wmClass.find('\0');
  if (separator == std::string_view::npos) return std::nullopt;
  std::string_view rest = wmClass.substr(separator + 1);
  if (const size_t end = rest.find('\0'); end != std::string_view::npos) rest = rest.substr(0, end);
  if (rest.empty()) return std::nullopt;
  return std::string(rest);
}

std::string_view XcbConnection::bytesOf(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 8) return {};
  return std::string_view(static_cast<const char*>(xcb_get_property_value(reply)),
                          static_cast<size_t>(xcb_get_property_value_length(reply)));
}

std::vector<uint32_t> XcbConnection::longsOf(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 32) return {};
  const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply));
  return std::vector<uint32_t>(values, values + xcb_get_property_value_length(reply) / 4);
}

std::vector<xcb_window_t> XcbConnection::clientList(std::string_view listName) {
  const xcb_atom_t listAtom = atom(listName);
  if (listAtom == XCB_ATOM_NONE) return {};
  xcb_connection_t* connection = connection_.get();
  const auto list = xcbOwned(xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, root_, listAtom, XCB_ATOM_WINDOW, 0, 1 << 16), nullptr));
  return longsOf(list.get());
}

std::vector<ManagedWindow> XcbConnection::managedWindows(std::string_view listName) {
  prefetchAtoms({listName, "_NET_WM_PID"});
  const xcb_atom_t pidAtom = atom("_NET_WM_PID");
  xcb_connection_t* connection = connection_.get();
  const std::vector<xcb_window_t> windows = clientList(listName);
  const int count = static_cast<int>(windows.size());

  struct Pending {
    xcb_window_t window;
    std::optional<xcb_get_property_cookie_t> pid;
    xcb_get_property_cookie_t windowClass;
  };
  std::vector<Pending> pending;
  pending.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    Pending request{windows[i], std::nullopt,
                    xcb_get_property(connection, 0, windows[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256)};
    if (pidAtom != XCB_ATOM_NONE) {
      request.pid = xcb_get_property(connection, 0, windows[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1);
    }
    pending.push_back(request);
  }

  std::vector<ManagedWindow> result;
  result.reserve(pending.size());
  for (const Pending& request : pending) {
    ManagedWindow window{request.window, std::nullopt, std::nullopt};
    const auto classReply = xcbOwned(xcb_get_property_reply(connection, request.windowClass, nullptr));
    if (classReply && classReply->format == 8) {
      const auto* bytes = static_cast<const char*>(xcb_get_property_value(classReply.get()));
      window.windowClass = classPart(
          std::string_view(bytes, static_cast<size_t>(xcb_get_property_value_length(classReply.get()))));
    }
    if (request.pid) {
      const auto pidReply = xcbOwned(xcb_get_property_reply(connection, *request.pid, nullptr));
      if (pidReply && pidReply->format == 32 && xcb_get_property_value_length(pidReply.get()) >= 4) {
        window.pid =
            static_cast<int32_t>(*static_cast<const uint32_t*>(xcb_get_property_value(pidReply.get())));
      }
    }
    result.push_back(std::move(window));
  }
  return result;
}

std::optional<xcb_window_t> XcbConnection::activeWindow() {
  const xcb_atom_t activeAtom = atom("_NET_ACTIVE_WINDOW");
  if (activeAtom == XCB_ATOM_NONE) return std::nullopt;
  xcb_connection_t* connection = connection_.get();
  const auto reply = xcbOwned(xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, root_, activeAtom, XCB_ATOM_WINDOW, 0, 1), nullptr));
  if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) return std::nullopt;
  const xcb_window_t window = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
  if (window == XCB_WINDOW_NONE) return std::nullopt;
  return window;
}

bool XcbConnection::requestActivation(xcb_window_t window) {
  const xcb_atom_t activeAtom = atom("_NET_ACTIVE_WINDOW");
  if (activeAtom == XCB_ATOM_NONE) return false;
  // The EWMH source indication of a pager or taskbar: a request made on the
  // user's behalf, which window managers do not treat as focus stealing.
  constexpr uint32_t sourceIndicationPager = 2;
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = activeAtom;
  message.data.data32[0] = sourceIndicationPager;
  message.data.data32[1] = XCB_CURRENT_TIME;
  message.data.data32[2] = activeWindow().value_or(XCB_WINDOW_NONE);
  const auto cookie = xcb_send_event_checked(
      get(), 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
      reinterpret_cast<const char*>(&message));
  const auto error = xcbOwned(xcb_request_check(get(), cookie));
  return !error && !xcb_connection_has_error(get());
}

std::optional<xcb_window_t> XcbConnection::topLevelOf(xcb_window_t window) {
  if (!connected()) return std::nullopt;
  for (;;) {
    const auto tree = xcbOwned(xcb_query_tree_reply(get(), xcb_query_tree(get(), window), nullptr));
    if (!tree) return std::nullopt;
    if (tree->parent == root_ || tree->parent == XCB_WINDOW_NONE) return window;
    window = tree->parent;
  }
}

}  // namespace lumacap
