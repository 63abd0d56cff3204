#include "app/ApplicationLoader.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "app/HookHandler.h"

namespace fs = std::filesystem;

namespace lumacap {

std::vector<fs::path> applicationLibraryCandidates(const fs::path& executable) {
  const fs::path folder = executable.parent_path();
  const char* name = "liblumacap-app.so";
  return {folder / name, folder.parent_path() / "lib" / "lumacap" / name,
          folder.parent_path() / "lib" / "x86_64-linux-gnu" / "lumacap" / name,
          folder.parent_path() / "lib64" / "lumacap" / name};
}

int runApplication(int argc, char** argv) {
  // Tesseract's OpenMP runtime reads this once when the library loads; one
  // thread is several times faster than its default on small machines.
  ::setenv("OMP_THREAD_LIMIT", "1", 0);

  const fs::path executable = currentExecutablePath(argc > 0 ? argv[0] : nullptr);
  std::string lastError = "liblumacap-app.so was not found next to " + executable.string();
  for (const fs::path& candidate : applicationLibraryCandidates(executable)) {
    std::error_code error;
    if (!fs::exists(candidate, error)) continue;
    void* library = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      lastError = ::dlerror();
      continue;
    }
    using Entry = int (*)(int, char**);
    auto entry = reinterpret_cast<Entry>(::dlsym(library, "lumacapRunApplication"));
    if (!entry) {
      lastError = "liblumacap-app.so has no application entry";
      continue;
    }
    return entry(argc, argv);
  }
  std::fprintf(stderr, "Lumacap: %s\n", lastError.c_str());
  return 1;
}

}  // namespace lumacap
