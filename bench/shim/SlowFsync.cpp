// A slow disk for benchmarks, loaded with LD_PRELOAD: every fsync and
// fdatasync waits 200 ms before it is carried out.
#include <dlfcn.h>
#include <unistd.h>

namespace {
constexpr useconds_t flushDelay = 200'000;

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" int fsync(int fd) {
  static const auto real = next<int (*)(int)>("fsync");
  usleep(flushDelay);
  return real(fd);
}

extern "C" int fdatasync(int fd) {
  static const auto real = next<int (*)(int)>("fdatasync");
  usleep(flushDelay);
  return real(fd);
}
