#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace lumacap {

// The application role lives in liblumacap-app.so so that the hook role never
// pays for loading Qt and Tesseract. These find and start it.

// Where the library may be, relative to the executable: beside it (the build
// tree) or in ../lib/lumacap and ../lib/<multiarch>/lumacap (installed).
std::vector<std::filesystem::path> applicationLibraryCandidates(const std::filesystem::path& executable);

// Loads the library and runs the application's event loop. Returns the exit
// status; a library that cannot be loaded is reported on standard error.
int runApplication(int argc, char** argv);

}  // namespace lumacap
