#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumacap {

// The installed desktop entries (*.desktop files), read once on first use,
// used to give a window class the name its application shows in menus.
class DesktopEntries {
 public:
  // `folders` in precedence order; `language` like "de_DE" (empty: unlocalized).
  explicit DesktopEntries(std::vector<std::filesystem::path> folders = applicationFolders(),
                          std::string language = messagesLanguage());

  // Reads the folders, once; name() reads them on first use otherwise.
  void load();

  // The Name of the entry whose StartupWMClass equals the class exactly or,
  // failing that, whose file name (without ".desktop") equals it ignoring
  // case; nothing when no entry matches.
  std::optional<std::string> name(std::string_view windowClass);

  struct Entry {
    std::string fileStem;
    std::optional<std::string> startupWMClass;
    std::string name;
  };
  // The [Desktop Entry] group of a file: nothing without a Name or when the
  // entry is hidden.
  static std::optional<Entry> parse(std::string_view content, std::string fileStem,
                                    std::string_view language);

  // $XDG_DATA_HOME (else ~/.local/share) then each of $XDG_DATA_DIRS (else
  // /usr/local/share:/usr/share), each with "/applications".
  static std::vector<std::filesystem::path> applicationFolders();
  // The language of messages from LC_ALL, LC_MESSAGES or LANG ("de_DE.UTF-8" → "de_DE").
  static std::string messagesLanguage();

 private:
  std::vector<std::filesystem::path> folders_;
  std::string language_;
  bool loaded_ = false;
  std::vector<Entry> entries_;
};

}  // namespace lumacap
