#pragma once

#include <unistd.h>

#include <cstdlib>

namespace lumacap::test {

// Tesseract's OpenMP runtime reads OMP_THREAD_LIMIT once, when the library
// loads, which for a test program is before main(). So, as the lumacap
// executable does before it loads the application library, a test program
// whose user has not chosen a limit restarts itself with one thread.
inline void restartWithOneOpenMPThreadUnlessChosen(char** argv) {
  if (std::getenv("OMP_THREAD_LIMIT")) return;
  ::setenv("OMP_THREAD_LIMIT", "1", 0);
  ::execv("/proc/self/exe", argv);
  // Without /proc the tests still run, only slower.
}

}  // namespace lumacap::test
