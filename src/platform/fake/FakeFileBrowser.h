#pragma once

#include <filesystem>
#include <vector>

#include "platform/FileBrowser.h"

namespace lumacap {

// Remembers what it was asked to show.
class FakeFileBrowser final : public FileBrowser {
 public:
  void revealFile(const std::filesystem::path& file, Outcome outcome = {}) override;
  void openFolder(const std::filesystem::path& folder, Outcome outcome = {}) override;

  const std::vector<std::filesystem::path>& revealedFiles() const { return revealed_; }
  const std::vector<std::filesystem::path>& openedFolders() const { return opened_; }

 private:
  std::vector<std::filesystem::path> revealed_;
  std::vector<std::filesystem::path> opened_;
};

}  // namespace lumacap
