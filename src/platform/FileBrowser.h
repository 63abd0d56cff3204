#pragma once

#include <filesystem>

namespace lumacap {

// The desktop's file manager.
class FileBrowser {
 public:
  virtual ~FileBrowser() = default;

  // Shows the folder of `file` with the file selected.
  virtual void revealFile(const std::filesystem::path& file) = 0;
  // Shows a folder.
  virtual void openFolder(const std::filesystem::path& folder) = 0;
};

}  // namespace lumacap
