#include "platform/x11/X11ScreenSource.h"

#include <sys/mman.h>
#include <unistd.h>
#include <xcb/composite.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QtConcurrent/QtConcurrent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "core/CaptureError.h"
#include "platform/ReadyFuture.h"
#include "platform/x11/XcbConnection.h"

namespace lumacap {
namespace {

constexpr uint32_t outputlessMonitorBit = 0x80000000u;

struct Monitor {
  uint32_t id = 0;
  std::string name;
  PixelRect native;
  bool primary = false;
};

void appendLatin1(std::string& utf8, unsigned char c) {
  if (c < 0x80) {
    utf8.push_back(static_cast<char>(c));
  } else {
    utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
    utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::string latin1ToUtf8(std::string_view text) {
  std::string result;
  for (const unsigned char c : text) appendLatin1(result, c);
  return result;
}

// X11's compound text: ISO 2022 with Latin-1 by default. Terminals such as
// xterm write titles beyond Latin-1 as UTF-8 segments between ESC % G and
// ESC % @. Other character sets (older CJK encodings) become U+FFFD.
std::string compoundTextToUtf8(std::string_view text) {
  constexpr char escape = '\x1b';
  constexpr std::string_view replacement = "\xef\xbf\xbd";
  enum class Set { latin1, utf8, unknown } set = Set::latin1;
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == escape) {
      // ESC, intermediate bytes (0x20–0x2F), a final byte (0x30–0x7E).
      size_t end = i + 1;
      while (end < text.size() && text[end] >= 0x20 && text[end] <= 0x2F) ++end;
      if (end >= text.size()) break;
      const std::string_view sequence = text.substr(i + 1, end - i);
      if (sequence == "%G") {
        set = Set::utf8;
      } else if (sequence == "%@" || sequence == "(B" || sequence == "-A") {
        set = Set::latin1;
      } else {
        set = Set::unknown;
      }
      i = end;
    } else if (set == Set::utf8) {
      result.push_back(static_cast<char>(c));
    } else if (set == Set::unknown && c >= 0x80) {
      if (!result.ends_with(replacement)) result += replacement;
    } else if (c >= 0x20 || c == '\t' || c == '\n') {
      if (c < 0x80 || c >= 0xA0) appendLatin1(result, c);
    }
  }
  return result;
}

namespace {

constexpr auto* longsOf = &XcbConnection::longsOf;
using Clock = std::chrono::steady_clock;

// How long a window manager may take to act on a request of ours (take a
// frame down, raise a window) before the capture goes ahead without it.
constexpr auto windowManagerDeadline = std::chrono::milliseconds(250);
// How long a raised window may take to redraw what was covered.
constexpr auto redrawDeadline = std::chrono::milliseconds(400);
constexpr auto shmPollInterval = std::chrono::milliseconds(8);

template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  while (!condition()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(shmPollInterval);
  }
  return true;
}

bool overlaps(const PixelRect& a, const PixelRect& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

}  // namespace

struct X11ScreenSource::Connection {
  Connection(const std::string& display, ImageTransport transport)
      : x11(display),
        xcb(x11.get()),
        root(x11.root()),
        sharedMemory(transport == ImageTransport::sharedMemory) {}

  XcbConnection x11;
  xcb_connection_t* xcb;
  xcb_window_t root;
  uint8_t imageByteOrder = XCB_IMAGE_ORDER_LSB_FIRST;
  std::map<uint8_t, uint8_t> bitsPerPixelByDepth;
  bool hasMonitors = false;
  bool hasComposite = false;
  // Cleared when the server cannot reach our memory (a display on another machine).
  std::atomic<bool> sharedMemory;

  static std::shared_ptr<Connection> open(const std::string& display, ImageTransport transport);
  std::vector<Monitor> monitors() const;
  ShareableContent content(const std::map<std::string, double>& scales, double defaultScale,
                           ProcessSource& processes);
  QImage image(xcb_drawable_t drawable, const PixelRect& area, uint8_t depth);
  QImage imageOverSocket(xcb_drawable_t drawable, const PixelRect& area, uint8_t depth) const;
  QImage imageInSharedMemory(xcb_drawable_t drawable, const PixelRect& area, uint8_t depth);
  QImage rootImage(const PixelRect& area);
  QImage windowImage(xcb_window_t window);
  QImage raisedWindowImage(xcb_window_t window, const xcb_get_geometry_reply_t& frame);
  std::vector<xcb_window_t> overlappingAbove(xcb_window_t topLevel);
  std::optional<PixelRect> showingArea(xcb_window_t window);
  std::vector<PixelRect> stillShowing(const std::vector<uint32_t>& windows);
};

std::shared_ptr<X11ScreenSource::Connection> X11ScreenSource::Connection::open(const std::string& display,
                                                                               ImageTransport transport) {
  auto connection = std::make_shared<Connection>(display, transport);
  if (!connection->x11.connected()) return nullptr;
  xcb_connection_t* xcb = connection->xcb;
  const xcb_setup_t* setup = xcb_get_setup(xcb);
  connection->imageByteOrder = setup->image_byte_order;
  for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats)) {
    connection->bitsPerPixelByDepth[formats.data->depth] = formats.data->bits_per_pixel;
  }
  connection->x11.prefetchAtoms({"_NET_CLIENT_LIST_STACKING", "_NET_CLIENT_LIST", "_NET_WM_NAME",
                                 "UTF8_STRING", "_NET_WM_PID", "_NET_WM_WINDOW_TYPE",
                                 "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_DESKTOP",
                                 "_NET_WM_WINDOW_TYPE_DOCK", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN",
                                 "COMPOUND_TEXT", "_NET_ACTIVE_WINDOW"});
  const auto randrCookie = xcb_randr_query_version(xcb, 1, 5);
  const auto compositeCookie = xcb_composite_query_version(xcb, 0, 2);
  const auto shmCookie = xcb_shm_query_version(xcb);
  if (auto randr = xcbOwned(xcb_randr_query_version_reply(xcb, randrCookie, nullptr))) {
    connection->hasMonitors =
        randr->major_version > 1 || (randr->major_version == 1 && randr->minor_version >= 5);
  }
  if (auto composite = xcbOwned(xcb_composite_query_version_reply(xcb, compositeCookie, nullptr))) {
    connection->hasComposite = composite->major_version > 0 || composite->minor_version >= 2;
  }
  if (!xcbOwned(xcb_shm_query_version_reply(xcb, shmCookie, nullptr))) connection->sharedMemory = false;
  return connection;
}

std::vector<Monitor> X11ScreenSource::Connection::monitors() const {
  std::vector<Monitor> result;
  if (hasMonitors) {
    auto reply = xcbOwned(xcb_randr_get_monitors_reply(xcb, xcb_randr_get_monitors(xcb, root, 1), nullptr));
    if (reply) {
      std::vector<xcb_get_atom_name_cookie_t> names;
      for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
           xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* info = it.data;
        Monitor monitor;
        monitor.native = PixelRect{info->x, info->y, info->width, info->height};
        monitor.primary = info->primary != 0;
        monitor.id = xcb_randr_monitor_info_outputs_length(info) > 0 ? *xcb_randr_monitor_info_outputs(info)
                                                                     : (info->name | outputlessMonitorBit);
        result.push_back(monitor);
        names.push_back(xcb_get_atom_name(xcb, info->name));
      }
      for (size_t i = 0; i < names.size(); ++i) {
        if (auto name = xcbOwned(xcb_get_atom_name_reply(xcb, names[i], nullptr))) {
          result[i].name.assign(xcb_get_atom_name_name(name.get()),
                                static_cast<size_t>(xcb_get_atom_name_name_length(name.get())));
        }
      }
    }
  }
  if (result.empty()) {
    // No RandR monitors: the root window is the one display.
    auto root = xcbOwned(xcb_get_geometry_reply(xcb, xcb_get_geometry(xcb, this->root), nullptr));
    if (root) result.push_back(Monitor{0, {}, PixelRect{0, 0, root->width, root->height}, true});
  }
  return result;
}

ShareableContent X11ScreenSource::Connection::content(const std::map<std::string, double>& scales,
                                                      double defaultScale, ProcessSource& processes) {
  ShareableContent content;
  const std::vector<Monitor> allMonitors = monitors();
  std::vector<PixelRect> nativeFrames;
  for (const Monitor& monitor : allMonitors) {
    const auto scale = scales.find(monitor.name);
    const double factor = scale != scales.end() ? scale->second : defaultScale;
    content.displays.push_back(
        ShareableDisplay{monitor.id, monitor.name, geometry::frameInPoints(monitor.native, factor), factor});
    nativeFrames.push_back(monitor.native);
  }

  std::vector<xcb_window_t> clients = x11.clientList("_NET_CLIENT_LIST_STACKING");
  if (clients.empty()) clients = x11.clientList("_NET_CLIENT_LIST");
  std::reverse(clients.begin(), clients.end());  // the stacking list runs bottom to top

  struct Cookies {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t position;
    xcb_get_property_cookie_t netName, name, pid, wmClass, type, state;
  };
  std::vector<Cookies> cookies;
  for (const xcb_window_t window : clients) {
    cookies.push_back(Cookies{
        xcb_get_window_attributes(xcb, window),
        xcb_get_geometry(xcb, window),
        xcb_translate_coordinates(xcb, window, root, 0, 0),
        xcb_get_property(xcb, 0, window, x11.atom("_NET_WM_NAME"), x11.atom("UTF8_STRING"), 0, 1024),
        xcb_get_property(xcb, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        xcb_get_property(xcb, 0, window, x11.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 0, 1),
        xcb_get_property(xcb, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
        xcb_get_property(xcb, 0, window, x11.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 0, 32),
        xcb_get_property(xcb, 0, window, x11.atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64),
    });
  }
  for (size_t i = 0; i < clients.size(); ++i) {
    const Cookies& c = cookies[i];
    auto attributes = xcbOwned(xcb_get_window_attributes_reply(xcb, c.attributes, nullptr));
    auto frame = xcbOwned(xcb_get_geometry_reply(xcb, c.geometry, nullptr));
    auto position = xcbOwned(xcb_translate_coordinates_reply(xcb, c.position, nullptr));
    auto netName = xcbOwned(xcb_get_property_reply(xcb, c.netName, nullptr));
    auto name = xcbOwned(xcb_get_property_reply(xcb, c.name, nullptr));
    auto pid = xcbOwned(xcb_get_property_reply(xcb, c.pid, nullptr));
    auto wmClass = xcbOwned(xcb_get_property_reply(xcb, c.wmClass, nullptr));
    auto type = xcbOwned(xcb_get_property_reply(xcb, c.type, nullptr));
    auto state = xcbOwned(xcb_get_property_reply(xcb, c.state, nullptr));
    // Only windows on the screen: mapped, and not minimised.
    if (!attributes || !frame || !position || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
    const std::vector<uint32_t> states = longsOf(state.get());
    if (std::find(states.begin(), states.end(), x11.atom("_NET_WM_STATE_HIDDEN")) != states.end()) continue;
    const std::vector<uint32_t> types = longsOf(type.get());
    if (!types.empty() && types.front() == x11.atom("_NET_WM_WINDOW_TYPE_DESKTOP")) continue;

    ShareableWindow window;
    window.windowID = clients[i];
    if (netName && netName->format == 8 && netName->value_len > 0) {
      window.title = std::string(XcbConnection::bytesOf(netName.get()));
    } else if (name && name->format == 8) {
      const std::string_view text = XcbConnection::bytesOf(name.get());
      if (name->type == x11.atom("UTF8_STRING")) {
        window.title = std::string(text);
      } else if (name->type == x11.atom("COMPOUND_TEXT")) {
        window.title = compoundTextToUtf8(text);
      } else {
        window.title = latin1ToUtf8(text);
      }
    }
    if (types.empty() || types.front() == x11.atom("_NET_WM_WINDOW_TYPE_NORMAL")) {
      window.layer = 0;
    } else {
      window.layer = types.front() == x11.atom("_NET_WM_WINDOW_TYPE_DOCK") ? 20 : 3;
    }
    const PixelRect native{position->dst_x, position->dst_y, frame->width, frame->height};
    window.frame = geometry::frameInPoints(native, 1);
    const Point centre{native.x + native.width / 2.0, native.y + native.height / 2.0};
    for (size_t d = 0; d < nativeFrames.size(); ++d) {
      const Rect display = geometry::frameInPoints(nativeFrames[d], 1);
      if (display.contains(centre) || d + 1 == nativeFrames.size()) {
        window.scale = content.displays[d].scale;
        window.frame = geometry::windowFrameInPoints(native, nativeFrames[d], window.scale);
        break;
      }
    }
    const std::vector<uint32_t> pids = longsOf(pid.get());
    if (!pids.empty() && pids.front() > 0) {
      const auto owner = static_cast<int32_t>(pids.front());
      // The window class names the application, else its process does.
      std::optional<std::string> application =
          XcbConnection::classPart(XcbConnection::bytesOf(wmClass.get()));
      if (!application) {
        if (const auto process = processes.inspect(owner)) application = process->executable;
      }
      window.owningApplication = OwningApplication{owner, application.value_or("")};
    }
    content.windows.push_back(std::move(window));
  }
  return content;
}

namespace {

[[noreturn]] void refused(const xcb_generic_error_t& error) {
  const int code = error.error_code;
  if (code == XCB_WINDOW || code == XCB_DRAWABLE) throw CaptureError(CaptureError::Kind::noDisplay);
  qWarning("The X server refused to hand over the screen image (X error %d).", code);
  throw CaptureError(CaptureError::Kind::x11Refused);
}

}  // namespace

// Pixels in the one layout Lumacap reads: 32 bits per pixel, least
// significant byte first, depth 24 (padding byte unset) or 32.
QImage X11ScreenSource::Connection::image(xcb_drawable_t drawable, const PixelRect& area, uint8_t depth) {
  const auto bits = bitsPerPixelByDepth.find(depth);
  if (bits == bitsPerPixelByDepth.end() || bits->second != 32 ||
      imageByteOrder != XCB_IMAGE_ORDER_LSB_FIRST || (depth != 24 && depth != 32)) {
    qWarning("The X server's pixel format has depth %d.", int(depth));
    throw CaptureError(CaptureError::Kind::x11PixelFormat);
  }
  QImage pixels;
  if (sharedMemory) pixels = imageInSharedMemory(drawable, area, depth);
  if (pixels.isNull()) pixels = imageOverSocket(drawable, area, depth);
  if (depth == 24) {
    // The padding byte arrives as zero; Qt's RGB32 wants it opaque.
    auto* pixel = reinterpret_cast<uint32_t*>(pixels.bits());
    const size_t count = static_cast<size_t>(area.width) * static_cast<size_t>(area.height);
    for (size_t i = 0; i < count; ++i) pixel[i] |= 0xFF000000u;
  }
  return pixels;
}

QImage X11ScreenSource::Connection::imageOverSocket(xcb_drawable_t drawable, const PixelRect& area,
                                                    uint8_t depth) const {
  xcb_generic_error_t* failure = nullptr;
  auto reply = xcbOwned(xcb_get_image_reply(
      xcb,
      xcb_get_image(xcb, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<int16_t>(area.x),
                    static_cast<int16_t>(area.y), static_cast<uint16_t>(area.width),
                    static_cast<uint16_t>(area.height), ~0u),
      &failure));
  if (const auto error = xcbOwned(failure)) refused(*error);
  if (!reply) throw CaptureError(CaptureError::Kind::x11ConnectionLost);
  if (reply->depth != depth || xcb_get_image_data_length(reply.get()) < area.width * area.height * 4) {
    throw CaptureError(CaptureError::Kind::x11ImageMismatch);
  }
  // The image keeps the reply's buffer instead of copying it.
  uchar* data = xcb_get_image_data(reply.get());
  return QImage(
      data, area.width, area.height, area.width * 4,
      depth == 24 ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied,
      [](void* buffer) { std::free(buffer); }, reply.release());
}

// The server writes the pixels straight into memory shared with it, which
// then becomes the image's buffer: no copy through the socket. The memory is
// mapped in whole before the server writes (one system call instead of a
// page fault for each 4 KiB later). A null image when the server cannot use
// it (a display on another machine).
QImage X11ScreenSource::Connection::imageInSharedMemory(xcb_drawable_t drawable, const PixelRect& area,
                                                        uint8_t depth) {
  struct Mapping {
    void* address;
    size_t size;
  };
  const size_t size = static_cast<size_t>(area.width) * static_cast<size_t>(area.height) * 4;
  const int file = ::memfd_create("lumacap-capture", MFD_CLOEXEC);
  if (file < 0) return {};
  void* address = ::ftruncate(file, static_cast<off_t>(size)) == 0
                      ? ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, file, 0)
                      : MAP_FAILED;
  if (address == MAP_FAILED) {
    ::close(file);
    return {};
  }
  const auto unmap = [](void* mapping) {
    const auto* shared = static_cast<Mapping*>(mapping);
    ::munmap(shared->address, shared->size);
    delete shared;
  };
  auto* mapping = new Mapping{address, size};
  const xcb_shm_seg_t segment = xcb_generate_id(xcb);
  // xcb hands the descriptor over and closes it.
  if (xcbOwned(xcb_request_check(xcb, xcb_shm_attach_fd_checked(xcb, segment, file, 0)))) {
    unmap(mapping);
    sharedMemory = false;
    return {};
  }
  xcb_generic_error_t* failure = nullptr;
  const auto reply = xcbOwned(xcb_shm_get_image_reply(
      xcb,
      xcb_shm_get_image(xcb, drawable, static_cast<int16_t>(area.x), static_cast<int16_t>(area.y),
                        static_cast<uint16_t>(area.width), static_cast<uint16_t>(area.height), ~0u,
                        XCB_IMAGE_FORMAT_Z_PIXMAP, segment, 0),
      &failure));
  xcb_shm_detach(xcb, segment);
  xcb_flush(xcb);
  const auto error = xcbOwned(failure);
  if (error || !reply || reply->depth != depth) {
    unmap(mapping);
    if (error) refused(*error);
    if (!reply) throw CaptureError(CaptureError::Kind::x11ConnectionLost);
    throw CaptureError(CaptureError::Kind::x11ImageMismatch);
  }
  return QImage(static_cast<uchar*>(address), area.width, area.height, area.width * 4,
                depth == 24 ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied, unmap, mapping);
}

QImage X11ScreenSource::Connection::rootImage(const PixelRect& area) {
  auto rootGeometry = xcbOwned(xcb_get_geometry_reply(xcb, xcb_get_geometry(xcb, root), nullptr));
  if (!rootGeometry) throw CaptureError(CaptureError::Kind::x11ConnectionLost);
  const Rect wanted{double(area.x), double(area.y), double(area.width), double(area.height)};
  const Rect inside =
      wanted.intersected(Rect{0, 0, double(rootGeometry->width), double(rootGeometry->height)});
  if (inside.isEmpty()) throw CaptureError(CaptureError::Kind::noDisplay);
  QImage part = image(root, PixelRect{int(inside.x), int(inside.y), int(inside.width), int(inside.height)},
                      rootGeometry->depth);
  if (inside == wanted) return part;
  // The screen shrank since the content was read, or the window reaches off
  // it: what is not on the screen stays black.
  QImage whole(area.width, area.height, QImage::Format_RGB32);
  whole.fill(Qt::black);
  QPainter painter(&whole);
  painter.drawImage(QPointF(inside.x - area.x, inside.y - area.y), part);
  return whole;
}

QImage X11ScreenSource::Connection::windowImage(xcb_window_t window) {
  auto frame = xcbOwned(xcb_get_geometry_reply(xcb, xcb_get_geometry(xcb, window), nullptr));
  if (!frame) throw CaptureError(CaptureError::Kind::noDisplay);
  if (hasComposite) {
    // Under a compositor the window has its own pixmap, complete even where
    // other windows cover it.
    const xcb_pixmap_t pixmap = xcb_generate_id(xcb);
    const auto error =
        xcbOwned(xcb_request_check(xcb, xcb_composite_name_window_pixmap_checked(xcb, window, pixmap)));
    if (!error) {
      try {
        QImage pixels = image(pixmap, PixelRect{0, 0, frame->width, frame->height}, frame->depth);
        xcb_free_pixmap(xcb, pixmap);
        return pixels;
      } catch (...) {
        xcb_free_pixmap(xcb, pixmap);
        throw;
      }
    }
    // Not redirected: no compositor runs.
  }
  return raisedWindowImage(window, *frame);
}

// The mapped top-level windows stacked above `topLevel` that overlap it.
std::vector<xcb_window_t> X11ScreenSource::Connection::overlappingAbove(xcb_window_t topLevel) {
  const auto tree = xcbOwned(xcb_query_tree_reply(xcb, xcb_query_tree(xcb, root), nullptr));
  const auto area = showingArea(topLevel);
  if (!tree || !area) return {};
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  const int count = xcb_query_tree_children_length(tree.get());
  const auto self = std::find(children, children + count, topLevel);
  std::vector<xcb_window_t> above;
  for (auto child = self == children + count ? self : self + 1; child != children + count; ++child) {
    const auto other = showingArea(*child);
    if (other && overlaps(*other, *area)) above.push_back(*child);
  }
  return above;
}

// Without a compositor the screen holds only what is in front. The window is
// brought to the front, and once the window manager has restacked it and the
// window has redrawn what was covered (two reads in a row agree), its area is
// cut from the screen.
QImage X11ScreenSource::Connection::raisedWindowImage(xcb_window_t window,
                                                      const xcb_get_geometry_reply_t& frame) {
  const xcb_window_t topLevel = x11.topLevelOf(window).value_or(window);
  const std::vector<xcb_window_t> coveredBy = overlappingAbove(topLevel);
  if (!coveredBy.empty() && x11.requestActivation(window)) {
    waitUntil([&] { return overlappingAbove(topLevel) != coveredBy; }, windowManagerDeadline);
  }
  auto position = xcbOwned(
      xcb_translate_coordinates_reply(xcb, xcb_translate_coordinates(xcb, window, root, 0, 0), nullptr));
  if (!position) throw CaptureError(CaptureError::Kind::noDisplay);
  const PixelRect onRoot{position->dst_x, position->dst_y, frame.width, frame.height};
  QImage pixels = rootImage(onRoot);
  if (coveredBy.empty()) return pixels;
  waitUntil(
      [&] {
        QImage again = rootImage(onRoot);
        const bool settled = again == pixels;
        pixels = std::move(again);
        return settled;
      },
      redrawDeadline);
  return pixels;
}

// Where `window` shows on the root, if it is mapped (borders included).
std::optional<PixelRect> X11ScreenSource::Connection::showingArea(xcb_window_t window) {
  const auto attributesCookie = xcb_get_window_attributes(xcb, window);
  const auto geometryCookie = xcb_get_geometry(xcb, window);
  const auto attributes = xcbOwned(xcb_get_window_attributes_reply(xcb, attributesCookie, nullptr));
  const auto geometry = xcbOwned(xcb_get_geometry_reply(xcb, geometryCookie, nullptr));
  if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE) return std::nullopt;
  const int border = 2 * geometry->border_width;
  return PixelRect{geometry->x, geometry->y, geometry->width + border, geometry->height + border};
}

// Waits until each window and the frame around it are unmapped; the areas of
// those still on the screen at the deadline.
std::vector<PixelRect> X11ScreenSource::Connection::stillShowing(const std::vector<uint32_t>& windows) {
  std::vector<xcb_window_t> topLevels;
  for (const uint32_t window : windows) {
    if (const auto topLevel = x11.topLevelOf(window)) topLevels.push_back(*topLevel);
  }
  std::vector<PixelRect> showing;
  waitUntil(
      [&] {
        showing.clear();
        for (const xcb_window_t topLevel : topLevels) {
          if (const auto area = showingArea(topLevel)) showing.push_back(*area);
        }
        return showing.empty();
      },
      windowManagerDeadline);
  return showing;
}

X11ScreenSource::X11ScreenSource(ProcessSource& processes, std::string display, ImageTransport transport)
    : connection_(Connection::open(display, transport)), processes_(processes) {}

bool X11ScreenSource::usesSharedMemory() const { return connection_ && connection_->sharedMemory; }

QFuture<std::vector<PixelRect>> X11ScreenSource::stillShowing(std::vector<uint32_t> windows) {
  if (!connection_ || windows.empty()) return readyFuture(std::vector<PixelRect>{});
  return QtConcurrent::run(
      [connection = connection_, windows = std::move(windows)] { return connection->stillShowing(windows); });
}

X11ScreenSource::~X11ScreenSource() = default;

bool X11ScreenSource::canRecordScreen() { return connection_ != nullptr; }

QFuture<bool> X11ScreenSource::requestScreenRecording() { return readyFuture(canRecordScreen()); }

QFuture<ShareableContent> X11ScreenSource::shareableContent() {
  if (!connection_) throw CaptureError(CaptureError::Kind::permission);
  // Scales come from Qt's screens, read here on the GUI thread.
  std::map<std::string, double> scales;
  for (const QScreen* screen : QGuiApplication::screens()) {
    scales[screen->name().toStdString()] = screen->devicePixelRatio();
  }
  const QScreen* primary = QGuiApplication::primaryScreen();
  const double defaultScale = primary ? primary->devicePixelRatio() : 1.0;
  return QtConcurrent::run(
      [connection = connection_, scales = std::move(scales), defaultScale, processes = &processes_] {
        return connection->content(scales, defaultScale, *processes);
      });
}

QFuture<QImage> X11ScreenSource::displayImage(const ShareableDisplay& display, const PixelRect& source) {
  if (!connection_) throw CaptureError(CaptureError::Kind::permission);
  const PixelRect origin = geometry::nativeRect(display.frame, display.scale);
  const PixelRect area{origin.x + source.x, origin.y + source.y, source.width, source.height};
  return QtConcurrent::run([connection = connection_, area] { return connection->rootImage(area); });
}

QFuture<QImage> X11ScreenSource::windowImage(const ShareableWindow& window) {
  if (!connection_) throw CaptureError(CaptureError::Kind::permission);
  return QtConcurrent::run(
      [connection = connection_, id = window.windowID] { return connection->windowImage(id); });
}

std::optional<uint32_t> X11ScreenSource::displayNumber(const QScreen& screen) {
  if (!connection_) return std::nullopt;
  const std::vector<Monitor> monitors = connection_->monitors();
  for (const Monitor& monitor : monitors) {
    if (QString::fromStdString(monitor.name) == screen.name()) return monitor.id;
  }
  if (monitors.size() == 1) return monitors.front().id;
  return std::nullopt;
}

uint32_t X11ScreenSource::mainDisplayID() {
  if (!connection_) return 0;
  const std::vector<Monitor> monitors = connection_->monitors();
  for (const Monitor& monitor : monitors) {
    if (monitor.primary) return monitor.id;
  }
  return monitors.empty() ? 0 : monitors.front().id;
}

bool X11ScreenSource::isCompositing() {
  if (!connection_) return false;
  xcb_connection_t* xcb = connection_->xcb;
  const xcb_atom_t manager =
      connection_->x11.atom("_NET_WM_CM_S" + std::to_string(connection_->x11.screenNumber()));
  if (manager == XCB_ATOM_NONE) return false;
  const auto owner =
      xcbOwned(xcb_get_selection_owner_reply(xcb, xcb_get_selection_owner(xcb, manager), nullptr));
  return owner && owner->owner != XCB_WINDOW_NONE;
}

void X11ScreenSource::synchronize() {
  const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11) return;
  xcb_connection_t* xcb = x11->connection();
  xcbOwned(xcb_get_input_focus_reply(xcb, xcb_get_input_focus(xcb), nullptr));  // a round trip
}

}  // namespace lumacap
