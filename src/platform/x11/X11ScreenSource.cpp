#include "platform/x11/X11ScreenSource.h"

#include <xcb/composite.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QtConcurrent/QtConcurrent>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "core/CaptureError.h"
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

enum class Atom {
  clientListStacking,
  clientList,
  wmName,
  utf8String,
  wmPid,
  windowType,
  typeNormal,
  typeDesktop,
  typeDock,
  wmState,
  stateHidden,
  compoundText,
  count
};

constexpr const char* atomNames[] = {"_NET_CLIENT_LIST_STACKING",
                                     "_NET_CLIENT_LIST",
                                     "_NET_WM_NAME",
                                     "UTF8_STRING",
                                     "_NET_WM_PID",
                                     "_NET_WM_WINDOW_TYPE",
                                     "_NET_WM_WINDOW_TYPE_NORMAL",
                                     "_NET_WM_WINDOW_TYPE_DESKTOP",
                                     "_NET_WM_WINDOW_TYPE_DOCK",
                                     "_NET_WM_STATE",
                                     "_NET_WM_STATE_HIDDEN",
                                     "COMPOUND_TEXT"};

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

std::string_view bytesOf(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 8) return {};
  return std::string_view(static_cast<const char*>(xcb_get_property_value(reply)),
                          static_cast<size_t>(xcb_get_property_value_length(reply)));
}

std::vector<uint32_t> longsOf(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 32) return {};
  const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply));
  return std::vector<uint32_t>(values, values + xcb_get_property_value_length(reply) / 4);
}

}  // namespace

struct X11ScreenSource::Connection {
  explicit Connection(const std::string& display) : x11(display), xcb(x11.get()), root(x11.root()) {}

  XcbConnection x11;
  xcb_connection_t* xcb;
  xcb_window_t root;
  uint8_t imageByteOrder = XCB_IMAGE_ORDER_LSB_FIRST;
  std::map<uint8_t, uint8_t> bitsPerPixelByDepth;
  xcb_atom_t atoms[static_cast<size_t>(Atom::count)] = {};
  bool hasMonitors = false;
  bool hasComposite = false;

  xcb_atom_t atom(Atom which) const { return atoms[static_cast<size_t>(which)]; }

  static std::shared_ptr<Connection> open(const std::string& display);
  std::vector<Monitor> monitors() const;
  ShareableContent content(const std::map<std::string, double>& scales, double defaultScale,
                           ProcessSource& processes) const;
  QImage image(xcb_drawable_t drawable, int x, int y, int width, int height, uint8_t depth) const;
  QImage rootImage(const PixelRect& area) const;
  QImage windowImage(xcb_window_t window) const;
};

std::shared_ptr<X11ScreenSource::Connection> X11ScreenSource::Connection::open(const std::string& display) {
  auto connection = std::make_shared<Connection>(display);
  if (!connection->x11.connected()) return nullptr;
  xcb_connection_t* xcb = connection->xcb;
  const xcb_setup_t* setup = xcb_get_setup(xcb);
  connection->imageByteOrder = setup->image_byte_order;
  for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats)) {
    connection->bitsPerPixelByDepth[formats.data->depth] = formats.data->bits_per_pixel;
  }

  xcb_intern_atom_cookie_t cookies[static_cast<size_t>(Atom::count)];
  for (size_t i = 0; i < std::size(atomNames); ++i) {
    cookies[i] = xcb_intern_atom(xcb, 0, static_cast<uint16_t>(std::strlen(atomNames[i])), atomNames[i]);
  }
  const auto randrCookie = xcb_randr_query_version(xcb, 1, 5);
  const auto compositeCookie = xcb_composite_query_version(xcb, 0, 2);
  for (size_t i = 0; i < std::size(atomNames); ++i) {
    auto reply = xcbOwned(xcb_intern_atom_reply(xcb, cookies[i], nullptr));
    connection->atoms[i] = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  }
  if (auto randr = xcbOwned(xcb_randr_query_version_reply(xcb, randrCookie, nullptr))) {
    connection->hasMonitors =
        randr->major_version > 1 || (randr->major_version == 1 && randr->minor_version >= 5);
  }
  if (auto composite = xcbOwned(xcb_composite_query_version_reply(xcb, compositeCookie, nullptr))) {
    connection->hasComposite = composite->major_version > 0 || composite->minor_version >= 2;
  }
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
                                                      double defaultScale, ProcessSource& processes) const {
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

  auto stacking = xcbOwned(xcb_get_property_reply(
      xcb, xcb_get_property(xcb, 0, root, atom(Atom::clientListStacking), XCB_ATOM_WINDOW, 0, 1 << 16),
      nullptr));
  if (!stacking || stacking->format != 32) {
    stacking = xcbOwned(xcb_get_property_reply(
        xcb, xcb_get_property(xcb, 0, root, atom(Atom::clientList), XCB_ATOM_WINDOW, 0, 1 << 16), nullptr));
  }
  std::vector<uint32_t> clients = longsOf(stacking.get());
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
        xcb_get_property(xcb, 0, window, atom(Atom::wmName), atom(Atom::utf8String), 0, 1024),
        xcb_get_property(xcb, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        xcb_get_property(xcb, 0, window, atom(Atom::wmPid), XCB_ATOM_CARDINAL, 0, 1),
        xcb_get_property(xcb, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
        xcb_get_property(xcb, 0, window, atom(Atom::windowType), XCB_ATOM_ATOM, 0, 32),
        xcb_get_property(xcb, 0, window, atom(Atom::wmState), XCB_ATOM_ATOM, 0, 64),
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
    if (std::find(states.begin(), states.end(), atom(Atom::stateHidden)) != states.end()) continue;
    const std::vector<uint32_t> types = longsOf(type.get());
    if (!types.empty() && types.front() == atom(Atom::typeDesktop)) continue;

    ShareableWindow window;
    window.windowID = clients[i];
    if (netName && netName->format == 8 && netName->value_len > 0) {
      window.title = std::string(bytesOf(netName.get()));
    } else if (name && name->format == 8) {
      const std::string_view text = bytesOf(name.get());
      if (name->type == atom(Atom::utf8String)) {
        window.title = std::string(text);
      } else if (name->type == atom(Atom::compoundText)) {
        window.title = compoundTextToUtf8(text);
      } else {
        window.title = latin1ToUtf8(text);
      }
    }
    if (types.empty() || types.front() == atom(Atom::typeNormal)) {
      window.layer = 0;
    } else {
      window.layer = types.front() == atom(Atom::typeDock) ? 20 : 3;
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
      std::optional<std::string> application = XcbConnection::classPart(bytesOf(wmClass.get()));
      if (!application) {
        if (const auto process = processes.inspect(owner)) application = process->executable;
      }
      window.owningApplication = OwningApplication{owner, application.value_or("")};
    }
    content.windows.push_back(std::move(window));
  }
  return content;
}

QImage X11ScreenSource::Connection::image(xcb_drawable_t drawable, int x, int y, int width, int height,
                                          uint8_t depth) const {
  xcb_generic_error_t* failure = nullptr;
  auto reply = xcbOwned(
      xcb_get_image_reply(xcb,
                          xcb_get_image(xcb, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<int16_t>(x),
                                        static_cast<int16_t>(y), static_cast<uint16_t>(width),
                                        static_cast<uint16_t>(height), ~0u),
                          &failure));
  if (const auto error = xcbOwned(failure)) {
    const int code = error->error_code;
    if (code == XCB_WINDOW || code == XCB_DRAWABLE) throw CaptureError(CaptureError::Kind::noDisplay);
    throw std::runtime_error("The X server refused to hand over the screen image (X error " +
                             std::to_string(code) + ").");
  }
  if (!reply) throw std::runtime_error("The connection to the X server was lost.");
  const auto bits = bitsPerPixelByDepth.find(reply->depth);
  if (bits == bitsPerPixelByDepth.end() || bits->second != 32 ||
      imageByteOrder != XCB_IMAGE_ORDER_LSB_FIRST || (depth != 24 && depth != 32) ||
      xcb_get_image_data_length(reply.get()) < width * height * 4) {
    throw std::runtime_error("The X server uses a pixel format Lumacap cannot read (depth " +
                             std::to_string(depth) + ").");
  }
  uchar* data = xcb_get_image_data(reply.get());
  if (depth == 24) {
    // The padding byte arrives as zero; Qt's RGB32 wants it opaque.
    auto* pixel = reinterpret_cast<uint32_t*>(data);
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < count; ++i) pixel[i] |= 0xFF000000u;
  }
  // The image keeps the reply's buffer instead of copying it.
  return QImage(
      data, width, height, width * 4,
      depth == 24 ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied,
      [](void* buffer) { std::free(buffer); }, reply.release());
}

QImage X11ScreenSource::Connection::rootImage(const PixelRect& area) const {
  auto rootGeometry = xcbOwned(xcb_get_geometry_reply(xcb, xcb_get_geometry(xcb, root), nullptr));
  if (!rootGeometry) throw std::runtime_error("The connection to the X server was lost.");
  const Rect wanted{double(area.x), double(area.y), double(area.width), double(area.height)};
  const Rect inside =
      wanted.intersected(Rect{0, 0, double(rootGeometry->width), double(rootGeometry->height)});
  if (inside.isEmpty()) throw CaptureError(CaptureError::Kind::noDisplay);
  QImage part =
      image(root, int(inside.x), int(inside.y), int(inside.width), int(inside.height), rootGeometry->depth);
  if (inside == wanted) return part;
  // The screen shrank since the content was read: what is gone stays black.
  QImage whole(area.width, area.height, QImage::Format_RGB32);
  whole.fill(Qt::black);
  QPainter painter(&whole);
  painter.drawImage(QPointF(inside.x - area.x, inside.y - area.y), part);
  return whole;
}

QImage X11ScreenSource::Connection::windowImage(xcb_window_t window) const {
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
        QImage pixels = image(pixmap, 0, 0, frame->width, frame->height, frame->depth);
        xcb_free_pixmap(xcb, pixmap);
        return pixels;
      } catch (...) {
        xcb_free_pixmap(xcb, pixmap);
        throw;
      }
    }
    // Not redirected: no compositor runs.
  }
  // Without one, read the window where it shows; only its part on the
  // screen can be read.
  auto position = xcbOwned(
      xcb_translate_coordinates_reply(xcb, xcb_translate_coordinates(xcb, window, root, 0, 0), nullptr));
  auto rootGeometry = xcbOwned(xcb_get_geometry_reply(xcb, xcb_get_geometry(xcb, root), nullptr));
  if (!position || !rootGeometry) throw CaptureError(CaptureError::Kind::noDisplay);
  const Rect onRoot{double(position->dst_x), double(position->dst_y), double(frame->width),
                    double(frame->height)};
  const Rect visible =
      onRoot.intersected(Rect{0, 0, double(rootGeometry->width), double(rootGeometry->height)});
  if (visible.isEmpty()) throw CaptureError(CaptureError::Kind::noDisplay);
  QImage part = image(window, int(visible.x - onRoot.x), int(visible.y - onRoot.y), int(visible.width),
                      int(visible.height), frame->depth);
  if (visible == onRoot) return part;
  QImage whole(frame->width, frame->height, part.format());
  whole.fill(Qt::black);
  QPainter painter(&whole);
  painter.drawImage(QPointF(visible.x - onRoot.x, visible.y - onRoot.y), part);
  return whole;
}

X11ScreenSource::X11ScreenSource(ProcessSource& processes, std::string display)
    : connection_(Connection::open(display)), processes_(processes) {}

X11ScreenSource::~X11ScreenSource() = default;

bool X11ScreenSource::canRecordScreen() { return connection_ != nullptr; }

bool X11ScreenSource::requestScreenRecording() { return canRecordScreen(); }

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
  const std::string name = "_NET_WM_CM_S" + std::to_string(connection_->x11.screenNumber());
  const auto atom = xcbOwned(xcb_intern_atom_reply(
      xcb, xcb_intern_atom(xcb, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr));
  if (!atom) return false;
  const auto owner =
      xcbOwned(xcb_get_selection_owner_reply(xcb, xcb_get_selection_owner(xcb, atom->atom), nullptr));
  return owner && owner->owner != XCB_WINDOW_NONE;
}

void X11ScreenSource::synchronize() {
  const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11) return;
  xcb_connection_t* xcb = x11->connection();
  xcbOwned(xcb_get_input_focus_reply(xcb, xcb_get_input_focus(xcb), nullptr));  // a round trip
}

}  // namespace lumacap
