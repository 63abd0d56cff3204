#include "platform/linux/AutostartEntry.h"

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "core/AtomicFile.h"
#include "core/DataRoot.h"

namespace fs = std::filesystem;

namespace lumacap {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// The value of `key` in the [Desktop Entry] group; the last one counts, as
// for GLib's key files, which most session managers read with.
std::optional<std::string> mainGroupValue(std::string_view content, std::string_view key) {
  std::optional<std::string> value;
  bool inMainGroup = false;
  while (!content.empty()) {
    const size_t end = content.find('\n');
    const std::string_view line = trimmed(content.substr(0, end));
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    if (line.starts_with('[')) inMainGroup = line == "[Desktop Entry]";
    const size_t equals = line.find('=');
    if (!inMainGroup || line.starts_with('#') || equals == std::string_view::npos) continue;
    if (trimmed(line.substr(0, equals)) == key) value = std::string(trimmed(line.substr(equals + 1)));
  }
  return value;
}

// One Exec argument, quoted where the desktop entry rules ask for it, then
// escaped as any string value (a backslash is written twice).
std::string execArgument(const std::string& argument) {
  if (argument.find_first_of("\n\r") != std::string::npos) {
    throw std::runtime_error("Lumacap cannot start at login from a path with a line break in it.");
  }
  std::string text;
  for (const char c : argument) {
    if (c == '%') text += '%';  // field codes start with %
    text += c;
  }
  if (text.find_first_of(" \t\"'\\><~|&;$*?#()`") != std::string::npos) {
    std::string quoted = "\"";
    for (const char c : text) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
      quoted += c;
    }
    text = quoted + "\"";
  }
  std::string escaped;
  for (const char c : text) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

fs::path defaultFile() {
  // Like the other XDG variables, a relative XDG_CONFIG_HOME is ignored.
  const char* configured = std::getenv("XDG_CONFIG_HOME");
  const fs::path config =
      configured && *configured == '/' ? fs::path(configured) : homeDirectory() / ".config";
  return config / "autostart" / "org.lumacap.Lumacap.desktop";
}

}  // namespace

AutostartEntry::AutostartEntry() : AutostartEntry(defaultFile()) {}

AutostartEntry::AutostartEntry(fs::path file) : file_(std::move(file)) {}

bool AutostartEntry::isEnabled() {
  std::string content;
  try {
    content = readWholeFile(file_);
  } catch (const std::exception&) {
    return false;  // what the session cannot read does not start
  }
  return mainGroupValue(content, "Hidden") != "true" &&
         mainGroupValue(content, "X-GNOME-Autostart-enabled") != "false";
}

void AutostartEntry::setEnabled(bool enabled) {
  if (!enabled) {
    std::error_code error;
    fs::remove(file_, error);
    if (error) throwSystemError(error.value(), "Could not remove", file_);
    return;
  }
  const std::string entry = contents(runningExecutable());
  createPrivateDirectories(file_.parent_path());
  writeFileAtomically(file_, entry);
}

std::string AutostartEntry::contents(const fs::path& executable) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Lumacap\n"
         "Comment=Starts Lumacap in the system tray\n"
         "Exec=" +
         execArgument(executable.string()) +
         "\n"
         "Icon=org.lumacap.Lumacap\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

fs::path AutostartEntry::runningExecutable(const fs::path& link) {
  std::error_code error;
  const fs::path path = fs::read_symlink(link, error);
  if (error) throwSystemError(error.value(), "Could not read", link);
  constexpr std::string_view deleted = " (deleted)";
  if (const std::string text = path.string(); text.ends_with(deleted)) {
    throw std::runtime_error(
        "Lumacap’s program file " + text.substr(0, text.size() - deleted.size()) +
        " was replaced or removed since Lumacap started: start Lumacap again, then try again.");
  }
  return path;
}

}  // namespace lumacap
