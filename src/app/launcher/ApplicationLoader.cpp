#include "app/launcher/ApplicationLoader.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "app/cli/HookHandler.h"
#include "app/handoff/InstanceHandOff.h"

namespace fs = std::filesystem;

namespace lumacap {
namespace {

// The entry `symbol` of `library`, loaded from beside the executable or its
// installed place; null with `error` set when there is none.
void* loadEntry(int argc, char** argv, const std::string& library, const char* symbol, std::string& error) {
  const fs::path executable = currentExecutablePath(argc > 0 ? argv[0] : nullptr);
  error = library + " was not found next to " + executable.string();
  for (const fs::path& candidate : applicationLibraryCandidates(executable, library)) {
    std::error_code missing;
    if (!fs::exists(candidate, missing)) continue;
    void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      error = ::dlerror();
      continue;
    }
    if (void* entry = ::dlsym(handle, symbol)) return entry;
    error = library + " has no entry " + symbol;
  }
  return nullptr;
}

}  // namespace

std::vector<fs::path> applicationLibraryCandidates(const fs::path& executable, const std::string& library) {
  const fs::path folder = executable.parent_path();
  return {folder / library, folder.parent_path() / "lib" / "lumacap" / library,
          folder.parent_path() / "lib" / "x86_64-linux-gnu" / "lumacap" / library,
          folder.parent_path() / "lib64" / "lumacap" / library};
}

bool handOverToRunningInstance(int argc, char** argv, const std::string& action, int delay) {
  std::string error;
  using Entry = int (*)(const char*, int);
  const auto entry =
      reinterpret_cast<Entry>(loadEntry(argc, argv, "liblumacap-handoff.so", "lumacapHandOff", error));
  // Without the library the application's own start-up hands over, only slower.
  return entry && entry(action.c_str(), delay) == static_cast<int>(HandOff::handedOver);
}

int runApplication(int argc, char** argv) {
  // Tesseract's OpenMP runtime reads this once when the library loads; one
  // thread is several times faster than its default on small machines.
  ::setenv("OMP_THREAD_LIMIT", "1", 0);
  std::string error;
  using Entry = int (*)(int, char**);
  const auto entry =
      reinterpret_cast<Entry>(loadEntry(argc, argv, "liblumacap-app.so", "lumacapRunApplication", error));
  if (!entry) {
    std::fprintf(stderr, "Lumacap: %s\n", error.c_str());
    return 1;
  }
  return entry(argc, argv);
}

}  // namespace lumacap
