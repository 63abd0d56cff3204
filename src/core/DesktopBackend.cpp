#include "core/DesktopBackend.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <sstream>

namespace lumacap {
namespace {

bool has(const std::set<std::string>& names, const char* name) { return names.contains(name); }

bool mentions(const std::vector<std::string>& desktops, const char* name) {
  return std::any_of(desktops.begin(), desktops.end(), [&](const std::string& desktop) {
    return desktop.size() == std::strlen(name) &&
           std::equal(desktop.begin(), desktop.end(), name, [](char a, char b) {
             return std::tolower((unsigned char)a) == std::tolower((unsigned char)b);
           });
  });
}

Desktop waylandDesktop(const DesktopFacts& facts) {
  if (has(facts.busNames, "org.kde.KWin") || mentions(facts.currentDesktops, "KDE")) return Desktop::kwin;
  if (has(facts.busNames, "org.gnome.Shell") || mentions(facts.currentDesktops, "GNOME"))
    return Desktop::gnome;
  if (!facts.swaySocket.empty() || mentions(facts.currentDesktops, "sway")) return Desktop::sway;
  if (!facts.hyprlandInstance.empty() || mentions(facts.currentDesktops, "Hyprland"))
    return Desktop::hyprland;
  if (has(facts.waylandGlobals, "zwlr_layer_shell_v1")) return Desktop::wlroots;
  return Desktop::otherWayland;
}

CaptureMechanism waylandCapture(const DesktopFacts& facts) {
  if (has(facts.busNames, "org.kde.KWin") && facts.kwinScreenShot2) return CaptureMechanism::kwinScreenShot2;
  if (has(facts.waylandGlobals, "zwlr_screencopy_manager_v1")) return CaptureMechanism::wlrScreencopy;
  if (has(facts.workingPortals, "org.freedesktop.portal.Screenshot")) return CaptureMechanism::portal;
  return CaptureMechanism::none;
}

bool isLiveSocket(const std::string& path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool live = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return live;
}

}  // namespace

Session chooseSession(const DesktopFacts& facts) {
  if (facts.waylandDisplay) return Session::wayland;
  if (facts.x11Display) return Session::x11;
  return Session::none;
}

DesktopBackend chooseBackend(const DesktopFacts& facts) {
  DesktopBackend backend;
  backend.session = chooseSession(facts);
  switch (backend.session) {
    case Session::none:
      return backend;
    case Session::x11:
      backend.desktop = Desktop::x11;
      backend.capture = CaptureMechanism::x11;
      backend.clipboard = ClipboardMechanism::x11;
      backend.card = CardMechanism::x11Window;
      backend.x11InsideWayland = facts.sessionType == "wayland";
      return backend;
    case Session::wayland:
      break;
  }
  const auto& globals = facts.waylandGlobals;
  backend.desktop = waylandDesktop(facts);
  if (backend.desktop == Desktop::wlroots && !facts.currentDesktops.empty()) {
    const std::string& name = facts.currentDesktops.front();
    const bool word = name.size() <= 32 && std::all_of(name.begin(), name.end(), [](unsigned char c) {
                        return std::isalnum(c) || c == '-' || c == '_' || c == '.';
                      });
    if (word && !mentions({name}, "wlroots")) backend.compositorName = name;
  }
  backend.capture = waylandCapture(facts);
  backend.clipboard = has(globals, "zwlr_data_control_manager_v1") ? ClipboardMechanism::dataControl
                                                                   : ClipboardMechanism::inputHandler;
  if (has(globals, "zwlr_layer_shell_v1")) {
    backend.card = CardMechanism::layerShell;
  } else if (has(facts.busNames, "org.freedesktop.Notifications")) {
    backend.card = CardMechanism::notification;
  }
  return backend;
}

std::string backendLogLine(const DesktopBackend& backend) {
  static const std::map<Desktop, const char*> desktops = {{Desktop::x11, "X11"},
                                                          {Desktop::kwin, "KWin"},
                                                          {Desktop::gnome, "GNOME"},
                                                          {Desktop::sway, "sway"},
                                                          {Desktop::hyprland, "Hyprland"},
                                                          {Desktop::wlroots, "wlroots"},
                                                          {Desktop::otherWayland, "unknown compositor"},
                                                          {Desktop::none, "none"}};
  static const std::map<CaptureMechanism, const char*> captures = {
      {CaptureMechanism::x11, "X11"},
      {CaptureMechanism::kwinScreenShot2, "ScreenShot2"},
      {CaptureMechanism::wlrScreencopy, "screencopy"},
      {CaptureMechanism::portal, "the Screenshot portal"},
      {CaptureMechanism::none, "nothing (not offered)"}};
  static const std::map<ClipboardMechanism, const char*> clipboards = {
      {ClipboardMechanism::x11, "X11 selection"},
      {ClipboardMechanism::dataControl, "data-control"},
      {ClipboardMechanism::inputHandler, "input events (focused windows only)"}};
  static const std::map<CardMechanism, const char*> cards = {{CardMechanism::x11Window, "X11 window"},
                                                             {CardMechanism::layerShell, "layer-shell"},
                                                             {CardMechanism::notification, "notification"},
                                                             {CardMechanism::none, "nothing (not offered)"}};
  if (backend.session == Session::none) return "lumacap: no display to run on";
  std::ostringstream line;
  line << "lumacap: ";
  if (backend.session == Session::wayland) {
    line << "Wayland (" << (backend.compositorName.empty() ? "" : backend.compositorName + ", ")
         << desktops.at(backend.desktop) << ")";
  } else {
    line << (backend.x11InsideWayland ? "X11 (Xwayland)" : "X11");
  }
  line << ": capture via " << captures.at(backend.capture) << ", clipboard via "
       << clipboards.at(backend.clipboard) << ", card via " << cards.at(backend.card);
  return line.str();
}

std::optional<std::string> sessionWarning(const DesktopBackend& backend) {
  if (!backend.x11InsideWayland) return std::nullopt;
  return "Lumacap: this is a Wayland session, but Lumacap was started with only DISPLAY set, so it runs on "
         "X11 (Xwayland): it cannot capture Wayland windows, its shortcut works only while an X11 window has "
         "the focus, and what it copies may not reach Wayland applications. Start it from the desktop, or "
         "with WAYLAND_DISPLAY set.";
}

namespace {

// KWin, sway and Hyprland list and activate windows for programs. Elsewhere the Screenshot
// portal's interactive interface lets the user choose a window (GNOME's has a Window button), and
// the agent's terminal is not brought forward.
void applyWindowLimits(const DesktopBackend& backend, DesktopLimits& limits) {
  if (backend.desktop == Desktop::kwin || backend.desktop == Desktop::sway ||
      backend.desktop == Desktop::hyprland)
    return;
  if (backend.capture != CaptureMechanism::portal) {
    const std::string desktop = backend.compositorName.empty() ? "this desktop" : backend.compositorName;
    limits.windows = "Capture Window… and returning to your agent’s terminal do not work on " + desktop +
                     " yet: switch to the terminal yourself and paste.";
    return;
  }
  const bool gnome = backend.desktop == Desktop::gnome;
  const std::string desktop = gnome ? "GNOME" : "This desktop";
  const std::string dialog = gnome ? "GNOME’s screenshot dialog" : "the desktop’s screenshot dialog";
  // GNOME's dialog (GNOME 43) takes the whole screen, the window that was in front, or an area.
  const std::string offers =
      gnome ? ", which takes the whole screen, the current window or an area: bring the window you want to "
              "the front first, then choose the current window there"
            : ", where you choose what to capture";
  limits.windows =
      desktop + " lets no program list or bring forward other programs’ windows: Capture Window… opens " +
      dialog + offers + ". After staging a capture you switch to your agent’s terminal yourself and paste.";
  limits.windowChooser = "Opens " + dialog + offers + ". " + desktop + " shows programs no list of windows.";
}

}  // namespace

DesktopLimits limitsOf(const DesktopBackend& backend) {
  DesktopLimits limits;
  if (backend.session != Session::wayland) return limits;
  limits.shortcut = shortcutUnavailableText;
  applyWindowLimits(backend, limits);
  if (backend.capture == CaptureMechanism::none)
    limits.capture =
        "This desktop offers no way to capture the screen: install its xdg-desktop-portal back end (for "
        "example xdg-desktop-portal-gnome, -kde or -wlr), then start Lumacap again.";
  if (backend.clipboard == ClipboardMechanism::inputHandler)
    limits.clipboard =
        "This desktop lets only the window you are using set the clipboard: a capture started from a command "
        "may not be copied by itself; use Copy Image in the preview.";
  limits.pin =
      "A pinned capture is an ordinary window here: Wayland lets no program keep a window above the others, "
      "so another window may cover it.";
  return limits;
}

std::vector<std::string> DesktopLimits::all() const {
  std::vector<std::string> texts;
  for (const auto* limit : {&capture, &clipboard, &shortcut, &windows})
    if (*limit) texts.push_back(**limit);
  return texts;
}

DesktopFacts sessionFacts(const std::function<std::optional<std::string>(const char*)>& variable) {
  DesktopFacts facts;
  const auto value = [&](const char* name) { return variable(name).value_or(""); };
  // A name in $XDG_RUNTIME_DIR, or a path. (libwayland would try wayland-0 without one; a start
  // with only $DISPLAY is taken as meant for X11, and warned about inside a Wayland session.)
  const std::string display = value("WAYLAND_DISPLAY"), runtime = value("XDG_RUNTIME_DIR");
  if (!display.empty() && display.front() == '/') {
    facts.waylandDisplay = isLiveSocket(display);
  } else if (!display.empty() && !runtime.empty()) {
    facts.waylandDisplay = isLiveSocket(runtime + "/" + display);
  }
  facts.sessionType = value("XDG_SESSION_TYPE");
  facts.x11Display = !value("DISPLAY").empty();
  std::istringstream desktops(value("XDG_CURRENT_DESKTOP"));
  for (std::string desktop; std::getline(desktops, desktop, ':');)
    if (!desktop.empty()) facts.currentDesktops.push_back(desktop);
  facts.swaySocket = value("SWAYSOCK");
  facts.hyprlandInstance = value("HYPRLAND_INSTANCE_SIGNATURE");
  facts.runtimeFolder = runtime;
  return facts;
}

}  // namespace lumacap
