#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace lumacap {

// The desktop's file manager.
class FileBrowser {
 public:
  // Told on the GUI thread whether something took the request (false: no
  // file manager or folder handler is installed).
  using Outcome = std::function<void(bool shown)>;

  virtual ~FileBrowser() = default;

  // Shows the folder of `file` with the file selected; where the file manager
  // cannot select files (or the file is gone), opens the folder. Returns at once.
  virtual void revealFile(const std::filesystem::path& file, Outcome outcome = {}) = 0;
  // Shows a folder. One that does not exist is not created, and nothing is
  // reported for it.
  virtual void openFolder(const std::filesystem::path& folder, Outcome outcome = {}) = 0;
};

// What a window says when nothing could show `folder`.
inline std::string noFileManagerMessage(const std::filesystem::path& folder) {
  return "No file manager is installed to open " + folder.string();
}

}  // namespace lumacap
