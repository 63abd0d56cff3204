#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/CommandLine.h"
#include "app/cli/HookHandler.h"
#include "app/cli/McpInstaller.h"
#include "app/cli/McpServer.h"
#include "app/handoff/InstanceBusNames.h"
#include "app/launcher/ApplicationLoader.h"
#include "core/DataRoot.h"
#include "core/UserSettings.h"
#include "platform/ProcessSource.h"
#include "platform/linux/TerminalAncestorLookup.h"
#include "platform/x11/XcbWindowList.h"

#ifndef LUMACAP_VERSION
#define LUMACAP_VERSION "unknown"
#endif

using lumacap::CommandLine;

namespace {

void writeLine(FILE* stream, const std::string& text) {
  const std::string line = text + "\n";
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

int runHook(const std::string& agentOption) {
  using namespace lumacap;
  // A closed standard error must not turn the hook's one error line into a
  // failed prompt.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    const auto agent = HookHandler::agentOption(agentOption);
    if (!agent) throw std::runtime_error("unknown agent “" + agentOption + "”");
    // Inside a Wayland session the X window list would hold only X
    // programs' windows; the terminal the session runs in is found by name.
    XcbWindowList x11Windows;
    TerminalAncestorLookup terminals(ProcessSource::system());
    RunningApplicationLookup& applications = TerminalAncestorLookup::inWaylandSession()
                                                 ? static_cast<RunningApplicationLookup&>(terminals)
                                                 : x11Windows;
    HookHandler handler({.processes = ProcessSource::system(),
                         .applications = applications,
                         .sessions = SessionRepository(dataRoot()),
                         .hookPid = static_cast<int32_t>(::getpid()),
                         .agent = agent->first,
                         .event = agent->second});
    handler.run(STDIN_FILENO);
  } catch (const std::exception& failure) {
    // Claude Code adds a hook's standard output to the model's context, so
    // this role only ever speaks on standard error, and never fails the hook.
    writeLine(stderr, std::string("Lumacap hook: ") + failure.what());
  }
  return 0;
}

int runInstaller(CommandLine::Role role, const std::string& agent, int argc, char** argv) {
  using namespace lumacap;
  try {
    const auto executable = currentExecutablePath(argc > 0 ? argv[0] : nullptr);
    const CodingAgent& chosen = *CodingAgent::find(agent);
    using Role = CommandLine::Role;
    writeLine(stdout, role == Role::installMcp || role == Role::removeMcp
                          ? McpInstaller(chosen).configure(role == Role::installMcp, executable)
                          : HookInstaller(chosen).configure(role == Role::installHooks, executable));
    return 0;
  } catch (const std::exception& failure) {
    writeLine(stderr, std::string("Lumacap: ") + failure.what());
    return 1;
  }
}

int runMcpServer(int argc, char** argv) {
  using namespace lumacap;
  // The agent closing the pipe ends the server rather than a signal.
  std::signal(SIGPIPE, SIG_IGN);
  std::error_code unknown;
  McpServer({.dataRoot = dataRoot(),
             .agentsMayRead = UserSettings::agentsMayReadCaptures,
             .version = LUMACAP_VERSION,
             .folder = std::filesystem::current_path(unknown).string(),
             .requestCapture = captureRequester(argc, argv, instancebus::requestTimeoutSeconds)})
      .serve(STDIN_FILENO, STDOUT_FILENO);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine command =
      CommandLine::parse(std::vector<std::string_view>(argv + std::min(argc, 1), argv + argc));
  switch (command.role) {
    case CommandLine::Role::hook:
      return runHook(command.agent);
    case CommandLine::Role::installHooks:
    case CommandLine::Role::removeHooks:
    case CommandLine::Role::installMcp:
    case CommandLine::Role::removeMcp:
      return runInstaller(command.role, command.agent, argc, argv);
    case CommandLine::Role::mcp:
      return runMcpServer(argc, argv);
    case CommandLine::Role::help:
      std::fputs(CommandLine::usage().c_str(), stdout);
      return 0;
    case CommandLine::Role::version:
      writeLine(stdout, "Lumacap " LUMACAP_VERSION);
      return 0;
    case CommandLine::Role::invalid:
      writeLine(stderr, command.error);
      std::fputs(CommandLine::synopsis().c_str(), stderr);
      return 2;
    case CommandLine::Role::application:
      break;
  }
  // A token the bus cannot carry (libdbus aborts on one that is not UTF-8) or that is no token
  // at all is dropped, here for the hand-off and the application alike.
  for (const char* variable : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
    const char* token = std::getenv(variable);
    if (token && !CommandLine::isUsableActivationToken(token)) ::unsetenv(variable);
  }
  // A running instance takes the request without this process loading Qt.
  if (lumacap::handOverToRunningInstance(argc, argv, command.action, command.delay)) return 0;
  return lumacap::runApplication(argc, argv);
}
