#include "core/DataRoot.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace lumacap {

std::filesystem::path homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

std::filesystem::path dataRoot() {
  // The XDG rules ignore a relative XDG_DATA_HOME.
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
    return std::filesystem::path(data) / "Lumacap";
  }
  return homeDirectory() / ".local" / "share" / "Lumacap";
}

}  // namespace lumacap
