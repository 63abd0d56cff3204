#include "platform/linux/AutostartEntry.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "core/AtomicFile.h"
#include "core/DataRoot.h"
#include "core/Unicode.h"

namespace fs = std::filesystem;

namespace lumacap {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }

bool hasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f; });
}

// The keys of the [Desktop Entry] group as GLib's key-file reader gives them
// to the session: nothing for a file it refuses (text that is not UTF-8, a
// line that is neither a group, a key nor a comment, a control character in
// a value). The last value of a key counts.
std::optional<std::map<std::string, std::string>> desktopEntryGroup(std::string_view content) {
  if (!unicode::isValidUtf8(content)) return std::nullopt;
  std::map<std::string, std::string> keys;
  bool inMainGroup = false;
  while (!content.empty()) {
    const size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    while (!line.empty() && isSpace(line.front())) line.remove_prefix(1);
    if (line.empty() || line.starts_with('#')) continue;
    if (line.starts_with('[')) {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos || hasControlCharacter(line)) return std::nullopt;
    std::string_view key = line.substr(0, equals);
    std::string_view value = line.substr(equals + 1);
    while (!key.empty() && isSpace(key.back())) key.remove_suffix(1);
    while (!value.empty() && isSpace(value.front())) value.remove_prefix(1);
    if (inMainGroup) keys[std::string(key)] = std::string(value);
  }
  return keys;
}

// A string value's escapes undone (\s \n \t \r \\); nothing for another escape.
std::optional<std::string> unescaped(std::string_view value) {
  std::string text;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      text += value[i];
      continue;
    }
    if (++i == value.size()) return std::nullopt;
    static constexpr std::string_view from = "sntr\\", to = " \n\t\r\\";
    const size_t at = from.find(value[i]);
    if (at == std::string_view::npos) return std::nullopt;
    text += to[at];
  }
  return text;
}

// The program an Exec value starts: its first argument, unquoted.
std::optional<std::string> execProgram(std::string_view exec) {
  std::string program;
  if (exec.starts_with('"')) {
    size_t i = 1;
    for (; i < exec.size() && exec[i] != '"'; ++i) {
      if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
      program += exec[i];
    }
    if (i == exec.size()) return std::nullopt;
  } else {
    program = std::string(exec.substr(0, exec.find(' ')));
  }
  std::string decoded;
  for (size_t i = 0; i < program.size(); ++i) {
    decoded += program[i];
    if (program[i] == '%' && i + 1 < program.size() && program[i + 1] == '%') ++i;
  }
  return decoded;
}

bool startsAnExecutable(const std::map<std::string, std::string>& keys) {
  const auto exec = keys.find("Exec");
  if (exec == keys.end()) return false;
  const std::optional<std::string> value = unescaped(exec->second);
  const std::optional<std::string> program = value ? execProgram(*value) : std::nullopt;
  std::error_code error;
  return program && program->starts_with('/') && fs::is_regular_file(*program, error) &&
         ::access(program->c_str(), X_OK) == 0;
}

// One Exec argument, quoted where the desktop entry rules ask for it, then
// escaped as any string value (a backslash is written twice).
std::string execArgument(const std::string& argument) {
  if (!unicode::isValidUtf8(argument)) {
    throw std::runtime_error(
        "Lumacap’s path is not valid UTF-8 text, so it cannot be written into the entry that starts it at "
        "login.");
  }
  if (hasControlCharacter(argument) || argument.find('\t') != std::string::npos) {
    throw std::runtime_error(
        "Lumacap’s path holds a control character, so it cannot be written into the entry that starts it at "
        "login.");
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
  std::optional<FileSnapshot> file;
  try {
    file = readRegularFile(file_, 1u << 20);
  } catch (const std::exception&) {
    return false;  // what the session cannot read does not start
  }
  const auto keys = file ? desktopEntryGroup(file->bytes) : std::nullopt;
  if (!keys) return false;
  const auto value = [&](const std::string& key) {
    const auto found = keys->find(key);
    return found == keys->end() ? std::string() : found->second;
  };
  return value("Type") == "Application" && value("Hidden") != "true" &&
         value("X-GNOME-Autostart-enabled") != "false" && startsAnExecutable(*keys);
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
