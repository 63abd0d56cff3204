#include "platform/linux/TerminalAncestorLookup.h"

#include <array>
#include <cstdlib>

namespace lumacap {
namespace {

struct KnownTerminal {
  std::string_view executable;
  std::string_view applicationID;
};

// The terminals people run Claude Code in. Several hand a shell to a helper
// process of their own (gnome-terminal-server, ptyxis-agent), which is then
// the nearest ancestor.
constexpr std::array knownTerminals{
    KnownTerminal{"kitty", "kitty"},
    KnownTerminal{"foot", "foot"},
    KnownTerminal{"footclient", "foot"},
    KnownTerminal{"alacritty", "Alacritty"},
    KnownTerminal{"wezterm-gui", "org.wezfurlong.wezterm"},
    KnownTerminal{"gnome-terminal-server", "org.gnome.Terminal"},
    KnownTerminal{"konsole", "org.kde.konsole"},
    KnownTerminal{"ptyxis", "org.gnome.Ptyxis"},
    KnownTerminal{"ptyxis-agent", "org.gnome.Ptyxis"},
    KnownTerminal{"ghostty", "com.mitchellh.ghostty"},
    KnownTerminal{"xterm", "XTerm"},
    KnownTerminal{"tilix", "com.gexperts.Tilix"},
    KnownTerminal{"terminator", "terminator"},
    KnownTerminal{"xfce4-terminal", "xfce4-terminal"},
};

// The kernel keeps the first 15 bytes of a command's name.
constexpr size_t commandNameLimit = 15;

std::string_view baseName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<std::string> TerminalAncestorLookup::terminalApplicationID(std::string_view executable) {
  const std::string_view name = baseName(executable);
  for (const KnownTerminal& terminal : knownTerminals) {
    const bool cut = name.size() == commandNameLimit && terminal.executable.size() > commandNameLimit;
    if (name == terminal.executable || (cut && terminal.executable.starts_with(name)))
      return std::string(terminal.applicationID);
  }
  return std::nullopt;
}

std::optional<RunningApplication> TerminalAncestorLookup::application(int32_t pid) {
  const std::optional<ProcessIdentity> identity = processes_.inspect(pid);
  if (!identity) return std::nullopt;
  std::optional<std::string> id = terminalApplicationID(identity->executable);
  // A name cut to 15 bytes may belong to another program: the path decides.
  if (id && baseName(identity->executable).size() == commandNameLimit) {
    const auto path = processes_.executablePath(pid);
    if (path) id = terminalApplicationID(path->filename().string());
  }
  if (!id) return std::nullopt;
  return RunningApplication{.pid = pid, .bundleIdentifier = std::move(id)};
}

bool TerminalAncestorLookup::inWaylandSession() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  const char* type = std::getenv("XDG_SESSION_TYPE");
  return (display && *display) || (type && std::string_view(type) == "wayland");
}

}  // namespace lumacap
