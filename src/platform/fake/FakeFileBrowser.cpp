#include "platform/fake/FakeFileBrowser.h"

namespace lumacap {

void FakeFileBrowser::revealFile(const std::filesystem::path& file, Outcome outcome) {
  revealed_.push_back(file);
  if (outcome) outcome(true);
}

void FakeFileBrowser::openFolder(const std::filesystem::path& folder, Outcome outcome) {
  opened_.push_back(folder);
  if (outcome) outcome(true);
}

}  // namespace lumacap
