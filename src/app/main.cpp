#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "app/ApplicationLoader.h"
#include "app/HookHandler.h"
#include "core/DataRoot.h"
#include "platform/ProcessSource.h"
#include "platform/x11/XcbWindowList.h"

namespace {

bool hasOption(int argc, char** argv, std::string_view option) {
  for (int i = 0; i < argc; ++i) {
    if (option == argv[i]) return true;
  }
  return false;
}

void writeLine(FILE* stream, const std::string& text) {
  const std::string line = text + "\n";
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

int runHook() {
  using namespace lumacap;
  // A closed standard error must not turn the hook's one error line into a
  // failed prompt.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    XcbWindowList windows;
    HookHandler handler({.processes = ProcessSource::system(),
                         .applications = windows,
                         .sessions = SessionRepository(dataRoot()),
                         .hookPid = static_cast<int32_t>(::getpid())});
    handler.run(STDIN_FILENO);
  } catch (const std::exception& failure) {
    // Claude Code adds a hook's standard output to the model's context, so
    // this role only ever speaks on standard error, and never fails the hook.
    writeLine(stderr, std::string("Lumacap hook: ") + failure.what());
  }
  return 0;
}

int runInstaller(int argc, char** argv) {
  using namespace lumacap;
  const bool install = hasOption(argc, argv, "--install-claude-hooks");
  try {
    const auto executable = currentExecutablePath(argc > 0 ? argv[0] : nullptr);
    writeLine(stdout, HookHandler::configure(install, executable));
    return 0;
  } catch (const std::exception& failure) {
    writeLine(stderr, std::string("Lumacap: ") + failure.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (hasOption(argc, argv, "--claude-hook")) return runHook();
  if (hasOption(argc, argv, "--install-claude-hooks") || hasOption(argc, argv, "--remove-claude-hooks")) {
    return runInstaller(argc, argv);
  }
  if (hasOption(argc, argv, "--help")) {
    writeLine(stdout,
              "Lumacap: native Linux capture utility. Options: --install-claude-hooks, "
              "--remove-claude-hooks, --claude-hook");
    return 0;
  }
  return lumacap::runApplication(argc, argv);
}
