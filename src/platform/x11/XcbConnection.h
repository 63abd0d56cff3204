#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumacap {

// A top-level window that the window manager manages, with the facts that
// tell which application owns it.
struct ManagedWindow {
  xcb_window_t window = XCB_WINDOW_NONE;
  std::optional<int32_t> pid;              // _NET_WM_PID
  std::optional<std::string> windowClass;  // the class part of WM_CLASS

  bool operator==(const ManagedWindow&) const = default;
};

// One connection to an X display with the EWMH queries that both the hook
// (read-only, no Qt) and the application need; every connection of this
// program that is not Qt's own is opened here. A connection that failed
// answers every query with nothing.
class XcbConnection {
 public:
  // Connects to `display`, or to $DISPLAY when it is empty.
  explicit XcbConnection(const std::string& display = {});

  bool connected() const { return connection_ != nullptr; }
  xcb_connection_t* get() const { return connection_.get(); }
  xcb_window_t root() const { return root_; }
  int screenNumber() const { return screenNumber_; }

  // The atom of `name`, created if `onlyIfExists` is false; XCB_ATOM_NONE when
  // unknown. Safe to call from several threads.
  xcb_atom_t atom(std::string_view name, bool onlyIfExists = true);
  // Learns several existing atoms in one round trip.
  void prefetchAtoms(std::initializer_list<std::string_view> names);

  // The windows the root's `listName` property holds, in its order.
  std::vector<xcb_window_t> clientList(std::string_view listName);

  // The windows the root's `listName` property holds (_NET_CLIENT_LIST, or
  // _NET_CLIENT_LIST_STACKING from bottom to top), each with its pid and
  // class, all requests sent before the first reply is read.
  std::vector<ManagedWindow> managedWindows(std::string_view listName = "_NET_CLIENT_LIST");

  // _NET_ACTIVE_WINDOW of the root window, if a window is active.
  std::optional<xcb_window_t> activeWindow();
  // Asks the window manager to activate (raise and focus) `window`, as a
  // pager would; whether the request went out.
  bool requestActivation(xcb_window_t window);

  // The ancestor of `window` that is a child of the root: the frame a
  // reparenting window manager put around it, else the window itself.
  std::optional<xcb_window_t> topLevelOf(xcb_window_t window);

  // The class part of WM_CLASS ("xterm\0XTerm\0" → "XTerm"), if there is one.
  static std::optional<std::string> classPart(std::string_view wmClass);
  // A property's value as bytes (format 8) or as 32-bit values (format 32);
  // empty for another format.
  static std::string_view bytesOf(const xcb_get_property_reply_t* reply);
  static std::vector<uint32_t> longsOf(const xcb_get_property_reply_t* reply);

 private:
  std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection_{nullptr, &xcb_disconnect};
  xcb_window_t root_ = XCB_WINDOW_NONE;
  int screenNumber_ = 0;
  std::mutex atomsLock_;
  std::map<std::string, xcb_atom_t, std::less<>> atoms_;
};

// The one owner of what xcb hands over to be freed: replies, errors, events.
template <typename Reply>
using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
XcbReply<Reply> xcbOwned(Reply* reply) {
  return XcbReply<Reply>(reply, &std::free);
}

}  // namespace lumacap
