#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/McpServer.h"

namespace lumacap {

// The application role lives in liblumacap-app.so so that the hook role never
// pays for loading Qt and Tesseract, and the hand-off to a running instance in
// liblumacap-handoff.so so that no other role loads the D-Bus library. These
// find and start them.

// Where `library` may be, relative to the executable: beside it (the build
// tree) or in ../lib/lumacap and ../lib/<multiarch>/lumacap (installed).
std::vector<std::filesystem::path> applicationLibraryCandidates(
    const std::filesystem::path& executable, const std::string& library = "liblumacap-app.so");

// Hands `action` (empty: a plain start) to the running instance. True when it
// took it; false when this process must run the application itself (no
// instance, no session bus, no answer, or no hand-off library).
bool handOverToRunningInstance(int argc, char** argv, const std::string& action, int delay);

// How `lumacap mcp` asks the running instance for a capture: through
// liblumacap-handoff.so, loaded at the first request. Each request asked
// waits at most `timeoutSeconds` for the answer.
std::function<std::unique_ptr<McpServer::PendingCapture>(const McpServer::CaptureAsk&)> captureRequester(
    int argc, char** argv, int timeoutSeconds);

// Loads the library and runs the application's event loop. Returns the exit
// status; a library that cannot be loaded is reported on standard error.
int runApplication(int argc, char** argv);

}  // namespace lumacap
