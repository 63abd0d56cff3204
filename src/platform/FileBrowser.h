#pragma once

#include <filesystem>

namespace lumacap {

// The desktop's file manager.
class FileBrowser {
 public:
  virtual ~FileBrowser() = default;

  // Shows the folder of `file` with the file selected; where the file manager
  // cannot select files (or the file is gone), opens the folder. Returns at
  // once; nothing is reported.
  virtual void revealFile(const std::filesystem::path& file) = 0;
  // Shows a folder. One that does not exist is not created.
  virtual void openFolder(const std::filesystem::path& folder) = 0;
};

}  // namespace lumacap
