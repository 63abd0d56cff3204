#pragma once

#include <filesystem>

namespace lumacap::test {

// A fresh folder under $TMPDIR, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& child) const { return path_ / child; }

 private:
  std::filesystem::path path_;
};

// Octal permission bits of a file, e.g. 0600.
unsigned permissionsOf(const std::filesystem::path& path);

}  // namespace lumacap::test
