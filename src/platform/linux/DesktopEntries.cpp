#include "platform/linux/DesktopEntries.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "core/DataRoot.h"

namespace fs = std::filesystem;

namespace lumacap {
namespace {

constexpr uintmax_t maximumEntrySize = 1 << 20;

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// Keys are looked up as Name[de_DE], Name[de], Name, in that order.
std::vector<std::string> nameKeys(std::string_view language) {
  std::vector<std::string> keys;
  if (!language.empty()) {
    keys.push_back("Name[" + std::string(language) + "]");
    if (const size_t underscore = language.find('_'); underscore != std::string_view::npos) {
      keys.push_back("Name[" + std::string(language.substr(0, underscore)) + "]");
    }
  }
  keys.push_back("Name");
  return keys;
}

std::optional<std::string> readEntryFile(const fs::path& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error || size > maximumEntrySize) return std::nullopt;
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return std::nullopt;
  std::ostringstream content;
  content << stream.rdbuf();
  return content.str();
}

}  // namespace

DesktopEntries::DesktopEntries(std::vector<fs::path> folders, std::string language)
    : folders_(std::move(folders)), language_(std::move(language)) {}

std::vector<fs::path> DesktopEntries::applicationFolders() {
  std::vector<fs::path> folders;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  folders.push_back((dataHome && *dataHome ? fs::path(dataHome) : homeDirectory() / ".local/share") /
                    "applications");
  const char* dataDirs = std::getenv("XDG_DATA_DIRS");
  std::string_view dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
  while (!dirs.empty()) {
    const size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    if (!dir.empty()) folders.push_back(fs::path(dir) / "applications");
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return folders;
}

std::string DesktopEntries::messagesLanguage() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (!value || !*value) continue;
    std::string language = value;
    language = language.substr(0, language.find_first_of(".@"));
    if (language == "C" || language == "POSIX") return {};
    return language;
  }
  return {};
}

std::optional<DesktopEntries::Entry> DesktopEntries::parse(std::string_view content, std::string fileStem,
                                                           std::string_view language) {
  Entry entry{std::move(fileStem), std::nullopt, {}};
  const std::vector<std::string> keys = nameKeys(language);
  size_t bestName = keys.size();
  bool inMainGroup = false;
  while (!content.empty()) {
    const size_t end = content.find('\n');
    const std::string_view line = trimmed(content.substr(0, end));
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inMainGroup) continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = trimmed(line.substr(0, equals));
    const std::string_view value = trimmed(line.substr(equals + 1));
    if (key == "Hidden" && value == "true") return std::nullopt;
    if (key == "StartupWMClass" && !value.empty()) entry.startupWMClass = std::string(value);
    const auto rank = std::find(keys.begin(), keys.end(), key) - keys.begin();
    if (static_cast<size_t>(rank) < bestName && !value.empty()) {
      bestName = static_cast<size_t>(rank);
      entry.name = std::string(value);
    }
  }
  if (entry.name.empty()) return std::nullopt;
  return entry;
}

void DesktopEntries::load() {
  if (loaded_) return;
  loaded_ = true;
  std::set<std::string> seenIds;  // an entry id in an earlier folder hides later ones
  for (const fs::path& folder : folders_) {
    std::error_code error;
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it);
         it.increment(error)) {
      if (it->path().extension() == ".desktop") files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      std::string id = file.lexically_relative(folder).string();
      std::replace(id.begin(), id.end(), '/', '-');
      if (!seenIds.insert(id).second) continue;
      const auto content = readEntryFile(file);
      if (!content) continue;
      if (auto entry = parse(*content, file.stem().string(), language_))
        entries_.push_back(std::move(*entry));
    }
  }
}

std::optional<std::string> DesktopEntries::name(std::string_view windowClass) {
  if (!loaded_) load();
  if (windowClass.empty()) return std::nullopt;
  for (const Entry& entry : entries_) {
    if (entry.startupWMClass == windowClass) return entry.name;
  }
  for (const Entry& entry : entries_) {
    if (equalIgnoringCase(entry.fileStem, windowClass)) return entry.name;
  }
  return std::nullopt;
}

}  // namespace lumacap
