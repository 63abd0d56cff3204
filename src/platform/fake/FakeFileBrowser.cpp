#include "platform/fake/FakeFileBrowser.h"

namespace lumacap {

void FakeFileBrowser::revealFile(const std::filesystem::path& file) { revealed_.push_back(file); }

void FakeFileBrowser::openFolder(const std::filesystem::path& folder) { opened_.push_back(folder); }

}  // namespace lumacap
