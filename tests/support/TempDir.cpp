#include "support/TempDir.h"

#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumacap::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lumacap-test-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
  path_ = name.data();
}

TempDir::~TempDir() {
  std::error_code error;
  // Tests make folders read-only to provoke failures; give access back first.
  // Only to real folders: a link in here may name any folder (a fake /proc's
  // cwd names "/"), and chmod follows links.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->symlink_status(error).type() == std::filesystem::file_type::directory)
      ::chmod(it->path().c_str(), 0700);
  }
  ::chmod(path_.c_str(), 0700);
  std::filesystem::remove_all(path_, error);
}

unsigned permissionsOf(const std::filesystem::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

}  // namespace lumacap::test
