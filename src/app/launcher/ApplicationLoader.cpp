#include "app/launcher/ApplicationLoader.h"

#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/cli/HookHandler.h"
#include "app/handoff/CaptureRequestCall.h"
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

namespace {

class DBusPendingCapture final : public McpServer::PendingCapture {
 public:
  DBusPendingCapture(const CaptureRequestCalls& calls, void* call, std::chrono::seconds patience)
      : calls_(calls), call_(call), deadline_(std::chrono::steady_clock::now() + patience) {}
  ~DBusPendingCapture() override { calls_.end(call_); }
  int descriptor() const override { return calls_.descriptor(call_); }
  std::optional<std::variant<std::string, mcp::ToolErrorKind>> poll() override {
    char id[128] = "";
    switch (static_cast<RequestOutcome>(calls_.step(call_, id, sizeof id))) {
      case RequestOutcome::pending:
        if (std::chrono::steady_clock::now() < deadline_) return std::nullopt;
        return mcp::ToolErrorKind::timedOut;
      case RequestOutcome::captured:
        return std::string(id);
      case RequestOutcome::noInstance:
        return mcp::ToolErrorKind::noLumacap;
      case RequestOutcome::busy:
        return mcp::ToolErrorKind::busy;
      case RequestOutcome::cancelled:
        return mcp::ToolErrorKind::cancelled;
      case RequestOutcome::timedOut:
        return mcp::ToolErrorKind::timedOut;
      case RequestOutcome::refused:
        return mcp::ToolErrorKind::refused;
      case RequestOutcome::failed:
        break;
    }
    return mcp::ToolErrorKind::requestFailed;
  }

 private:
  const CaptureRequestCalls& calls_;
  void* call_;
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace

std::function<std::unique_ptr<McpServer::PendingCapture>(const McpServer::CaptureAsk&)> captureRequester(
    int argc, char** argv, int timeoutSeconds) {
  return [argc, argv,
          timeoutSeconds](const McpServer::CaptureAsk& ask) -> std::unique_ptr<McpServer::PendingCapture> {
    std::string error;
    using Entry = const CaptureRequestCalls* (*)();
    const auto entry = reinterpret_cast<Entry>(
        loadEntry(argc, argv, "liblumacap-handoff.so", "lumacapCaptureRequestCalls", error));
    if (!entry) throw mcp::ToolError(mcp::ToolErrorKind::requestFailed);
    const CaptureRequestCalls& calls = *entry();
    // The instance's own time-out ends the selection first; the answer may take a little longer.
    const auto patience = std::chrono::seconds(timeoutSeconds + 10);
    int outcome = 0;
    void* call = calls.start(ask.agent.c_str(), ask.folder.c_str(), ask.reason.c_str(),
                             static_cast<int>(patience.count() * 1000), &outcome);
    if (!call)
      throw mcp::ToolError(static_cast<RequestOutcome>(outcome) == RequestOutcome::noInstance
                               ? mcp::ToolErrorKind::noLumacap
                               : mcp::ToolErrorKind::requestFailed);
    return std::make_unique<DBusPendingCapture>(calls, call, patience);
  };
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
