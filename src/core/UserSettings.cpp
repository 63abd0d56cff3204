#include "core/UserSettings.h"

#include <cstdlib>
#include <exception>

#include "core/AtomicFile.h"
#include "core/DataRoot.h"

namespace lumacap {

namespace {

std::string_view trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::filesystem::path UserSettings::file() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::filesystem::path folder =
      config && *config == '/' ? std::filesystem::path(config) : homeDirectory() / ".config";
  return folder / "Lumacap" / "Lumacap.conf";
}

std::optional<std::string> UserSettings::generalValue(std::string_view ini, std::string_view key) {
  bool inGeneral = false;
  std::optional<std::string> value;
  while (!ini.empty()) {
    const size_t end = ini.find('\n');
    const std::string_view line = trimmed(ini.substr(0, end));
    ini = end == std::string_view::npos ? std::string_view() : ini.substr(end + 1);
    if (line.starts_with('[')) {
      inGeneral = line == "[General]";
    } else if (const size_t equals = line.find('=');
               inGeneral && equals != std::string_view::npos && trimmed(line.substr(0, equals)) == key) {
      value = std::string(trimmed(line.substr(equals + 1)));  // the last one counts, as for QSettings
    }
  }
  return value;
}

bool UserSettings::agentsMayReadCaptures() {
  try {
    const std::optional<FileSnapshot> settings = readRegularFile(file(), 1u << 20);
    return !settings || generalValue(settings->bytes, agentsMayReadCapturesKey) != "false";
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace lumacap
