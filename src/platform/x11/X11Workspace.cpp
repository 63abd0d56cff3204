#include "platform/x11/X11Workspace.h"

#include <QSocketNotifier>
#include <QString>
#include <QThreadPool>
#include <QtConcurrent>
#include <algorithm>

#include "platform/ReadyFuture.h"

namespace lumacap {
namespace {

constexpr size_t activationHistoryLimit = 256;

// Which of the application's windows to activate: the one that was active
// last, else its topmost.
std::optional<xcb_window_t> lastActiveWindow(XcbConnection& connection, int32_t pid,
                                             const std::vector<xcb_window_t>& activationOrder) {
  // Bottom to top: the last of the application's windows is its topmost.
  std::vector<xcb_window_t> windows;
  for (const ManagedWindow& window : connection.managedWindows("_NET_CLIENT_LIST_STACKING")) {
    if (window.pid == pid) windows.push_back(window.window);
  }
  if (windows.empty()) return std::nullopt;
  for (auto it = activationOrder.rbegin(); it != activationOrder.rend(); ++it) {
    if (std::find(windows.begin(), windows.end(), *it) != windows.end()) return *it;
  }
  return windows.back();
}

// The text of a window's title property, if it is set and not empty.
std::optional<std::string> titleProperty(XcbConnection& connection, xcb_window_t window, xcb_atom_t property,
                                         xcb_atom_t type) {
  if (property == XCB_ATOM_NONE) return std::nullopt;
  const auto reply = xcbOwned(xcb_get_property_reply(
      connection.get(), xcb_get_property(connection.get(), 0, window, property, type, 0, 1024), nullptr));
  if (!reply || reply->format != 8 || xcb_get_property_value_length(reply.get()) == 0) return std::nullopt;
  return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                     static_cast<size_t>(xcb_get_property_value_length(reply.get())));
}

}  // namespace

X11Workspace::X11Workspace(const std::string& display, ProcessSource& processes)
    : connection_(display),
      activationConnection_(std::make_shared<XcbConnection>(display)),
      activationThread_(std::make_unique<QThreadPool>()),
      processes_(processes),
      desktopEntries_(std::make_shared<DesktopEntries>()) {
  activationThread_->setMaxThreadCount(1);  // requests go out in the order they were made
  if (!connection_.connected()) return;
  desktopEntriesRead_ = QtConcurrent::run([entries = desktopEntries_] { entries->load(); });
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(connection_.get(), connection_.root(), XCB_CW_EVENT_MASK, &mask);
  if (const auto active = connection_.activeWindow()) noteActivation(*active);
  xcb_flush(connection_.get());
  notifier_ =
      std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection_.get()), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { readEvents(); });
}

X11Workspace::~X11Workspace() {
  activationThread_->waitForDone();
  desktopEntriesRead_.waitForFinished();
}

void X11Workspace::readEvents() {
  if (!connection_.connected()) return;
  const xcb_atom_t activeAtom = connection_.atom("_NET_ACTIVE_WINDOW");
  bool activeChanged = false;
  // Replies read elsewhere may have queued events without waking the notifier,
  // so everything queued is taken here.
  while (auto event = xcbOwned(xcb_poll_for_event(connection_.get()))) {
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) continue;
    const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
    if (property->window == connection_.root() && property->atom == activeAtom) activeChanged = true;
  }
  if (!activeChanged) return;
  if (const auto active = connection_.activeWindow()) {
    noteActivation(*active);
    announceFrontmost(*active);
  }
}

void X11Workspace::announceFrontmost(xcb_window_t active) {
  if (!observer_) return;
  for (const ManagedWindow& window : connection_.managedWindows("_NET_CLIENT_LIST")) {
    if (window.window != active || !window.pid || window.pid == frontmostPid_) continue;
    frontmostPid_ = window.pid;
    if (const auto frontmost = application(*window.pid)) observer_(*frontmost);
    return;
  }
}

std::optional<std::string> X11Workspace::localizedName(const std::string& windowClass) {
  // The GUI never waits for the desktop entries: until they are read (a moment
  // after start), an application goes by its window class.
  if (desktopEntriesRead_.isFinished()) {
    if (auto name = desktopEntries_->name(windowClass)) return name;
  }
  return windowClass;
}

void X11Workspace::noteActivation(xcb_window_t window) {
  std::erase(activationOrder_, window);
  activationOrder_.push_back(window);
  if (activationOrder_.size() > activationHistoryLimit) activationOrder_.erase(activationOrder_.begin());
}

std::optional<DesktopApplication> X11Workspace::application(int32_t pid) {
  if (!connection_.connected() || pid < 1) return std::nullopt;
  std::optional<DesktopApplication> found;
  for (const ManagedWindow& window : connection_.managedWindows("_NET_CLIENT_LIST")) {
    if (window.pid != pid) continue;
    if (!found) found = DesktopApplication{pid, std::nullopt, std::nullopt, {}};
    // The first window listed with a class names the application.
    if (!found->bundleIdentifier) found->bundleIdentifier = window.windowClass;
  }
  if (!found) return std::nullopt;
  if (found->bundleIdentifier) found->localizedName = localizedName(*found->bundleIdentifier);
  if (const auto identity = processes_.inspect(pid)) found->started = identity->started;
  return found;
}

std::optional<DesktopApplication> X11Workspace::frontmostApplication() {
  if (!connection_.connected()) return std::nullopt;
  const auto active = connection_.activeWindow();
  if (!active) return std::nullopt;
  for (const ManagedWindow& window : connection_.managedWindows("_NET_CLIENT_LIST")) {
    if (window.window == *active && window.pid) return application(*window.pid);
  }
  return std::nullopt;
}

QFuture<bool> X11Workspace::activate(const DesktopApplication& application) {
  if (!connection_.connected()) return readyFuture(false);
  readEvents();  // the activation order is up to date
  return QtConcurrent::run(activationThread_.get(),
                           [this, connection = activationConnection_, application, order = activationOrder_] {
                             if (!connection->connected() || isTerminated(application)) return false;
                             const auto target = lastActiveWindow(*connection, application.pid, order);
                             return target && connection->requestActivation(*target);
                           });
}

bool X11Workspace::isTerminated(const DesktopApplication& application) {
  const auto identity = processes_.inspect(application.pid);
  return !identity || identity->started != application.started;
}

std::optional<std::string> X11Workspace::windowTitle(int32_t pid) {
  if (!connection_.connected() || pid < 1) return std::nullopt;
  std::optional<xcb_window_t> owned;
  for (const ManagedWindow& window : connection_.managedWindows("_NET_CLIENT_LIST")) {
    if (window.pid != pid) continue;
    if (owned) return std::nullopt;
    owned = window.window;
  }
  if (!owned) return std::nullopt;
  // _NET_WM_NAME is UTF-8; the older WM_NAME is read as Latin-1.
  if (auto title = titleProperty(connection_, *owned, connection_.atom("_NET_WM_NAME"),
                                 connection_.atom("UTF8_STRING")))
    return title;
  if (auto title = titleProperty(connection_, *owned, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY))
    return QString::fromLatin1(title->data(), static_cast<qsizetype>(title->size())).toStdString();
  return std::nullopt;
}

}  // namespace lumacap
