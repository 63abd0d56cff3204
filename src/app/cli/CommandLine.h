#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace lumacap {

// What `lumacap` was asked to do, read from its arguments before anything
// heavy is loaded. The hook role wins over every other option (it must never
// fail a prompt), the installer over the help, the help over everything else.
struct CommandLine {
  enum class Role {
    hook,
    installHooks,
    removeHooks,
    installMcp,
    removeMcp,
    help,
    version,
    mcp,
    application,
    invalid
  };

  // The actions a desktop, a key binding or `--action=` may ask for.
  static constexpr std::array<std::string_view, 6> actions = {
      "capture-region", "capture-window", "capture-display", "capture-last-region", "history", "settings"};

  struct Option {
    std::string_view name;
    std::string_view description;  // one line, as --help prints it
  };
  static constexpr std::array<Option, 13> options = {{
      {"--action=ACTION", "carry out ACTION in the running Lumacap, starting it first if needed"},
      {"--delay=SECONDS", "with a capture action: capture after a countdown of SECONDS (1 to 60)"},
      {"--install-claude-hooks", "add Lumacap's hooks to Claude Code's settings (a backup is kept)"},
      {"--remove-claude-hooks", "remove Lumacap's hooks from Claude Code's settings"},
      {"--install-hooks=AGENT",
       "add Lumacap's hooks to AGENT's settings: claude, codex, gemini, copilot, qwen"},
      {"--remove-hooks=AGENT", "remove Lumacap's hooks from AGENT's settings"},
      {"--install-mcp=AGENT", "add Lumacap's MCP server (lumacap mcp) to AGENT's MCP servers"},
      {"--remove-mcp=AGENT", "remove Lumacap's MCP server from AGENT's MCP servers"},
      {"--claude-hook", "the hook command Claude Code runs: reads one event on standard input"},
      {"--agent-hook=AGENT", "the hook command another agent runs"},
      {"mcp", "serve coding agents Lumacap's captures over MCP on standard input and output"},
      {"--version", "print the version"},
      {"--help", "print this help"},
  }};

  Role role = Role::application;
  std::string action;  // for the application role; empty: a plain start
  std::string error;   // for an invalid command line: one line naming what is wrong
  std::string agent;   // for the hook and installer roles: the agent's key (the hook's may add ":EVENT")
  int delay = 0;       // seconds of countdown before a capture action; 0: at once
  static constexpr int maximumDelay = 60;

  static CommandLine parse(const std::vector<std::string_view>& arguments);
  static bool isAction(std::string_view name);

  // Whether an activation token the desktop gave this start ($XDG_ACTIVATION_TOKEN,
  // $DESKTOP_STARTUP_ID) may be passed on: UTF-8 text of at most maximumTokenSize bytes without
  // control characters. Another one is dropped, and the start goes on without it.
  static constexpr size_t maximumTokenSize = 256;
  static bool isUsableActivationToken(std::string_view token);

  // Every option with its description, and the actions, as --help prints them.
  static std::string usage();
  // The one usage line an error on the command line repeats.
  static std::string synopsis();
};

}  // namespace lumacap
