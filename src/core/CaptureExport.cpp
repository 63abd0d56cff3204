#include "core/CaptureExport.h"

#include <exception>
#include <system_error>

#include "core/AtomicFile.h"

namespace fs = std::filesystem;

namespace lumacap {

ExportOutcome exportCaptures(const std::vector<fs::path>& images, const fs::path& folder) {
  ExportOutcome outcome;
  try {
    for (const fs::path& image : images) {
      const std::string bytes = readWholeFile(image);
      fs::path target = folder / image.filename();
      for (int n = 2; fs::exists(fs::symlink_status(target)); ++n) {
        target = folder / (image.stem().string() + "-" + std::to_string(n) + image.extension().string());
      }
      writeUserFileAtomically(target, bytes);
      ++outcome.exported;
    }
  } catch (const std::exception& failure) {
    outcome.failure = failure.what();
  }
  return outcome;
}

}  // namespace lumacap
