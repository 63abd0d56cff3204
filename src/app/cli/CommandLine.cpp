#include "app/cli/CommandLine.h"

#include <algorithm>
#include <optional>

#include "core/CodingAgent.h"
#include "core/Unicode.h"

namespace lumacap {
namespace {

constexpr std::string_view actionPrefix = "--action=";
constexpr std::string_view delayPrefix = "--delay=";

// Whole seconds from 1 to the most a countdown may last, written in digits.
std::optional<int> delaySeconds(std::string_view text) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  int seconds = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + (c - '0');
  }
  if (seconds < 1 || seconds > CommandLine::maximumDelay) return std::nullopt;
  return seconds;
}

bool contains(const std::vector<std::string_view>& arguments, std::string_view option) {
  return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
}

CommandLine invalid(std::string error) {
  return {.role = CommandLine::Role::invalid, .action = {}, .error = std::move(error), .agent = {}};
}

std::string agentNames() {
  std::string names;
  for (const CodingAgent* agent : CodingAgent::all())
    names += (names.empty() ? "" : ", ") + std::string(agent->key);
  return names;
}

// The value of the first `NAME=VALUE` argument.
std::optional<std::string_view> valueOf(const std::vector<std::string_view>& arguments,
                                        std::string_view name) {
  for (const std::string_view argument : arguments) {
    if (argument.starts_with(name) && argument.substr(name.size()).starts_with('='))
      return argument.substr(name.size() + 1);
  }
  return std::nullopt;
}

}  // namespace

bool CommandLine::isAction(std::string_view name) {
  return std::find(actions.begin(), actions.end(), name) != actions.end();
}

bool CommandLine::isUsableActivationToken(std::string_view token) {
  if (token.size() > maximumTokenSize || !unicode::isValidUtf8(token)) return false;
  const std::u32string characters = unicode::decode(token);
  return std::none_of(characters.begin(), characters.end(),
                      [](char32_t c) { return c < 0x20 || (c >= 0x7f && c <= 0x9f); });
}

CommandLine CommandLine::parse(const std::vector<std::string_view>& arguments) {
  if (contains(arguments, "--claude-hook"))
    return {.role = Role::hook, .action = {}, .error = {}, .agent = "claude"};
  // Which agent it is the hook role checks, so that no command line fails a prompt.
  if (const auto agent = valueOf(arguments, "--agent-hook"))
    return {.role = Role::hook, .action = {}, .error = {}, .agent = std::string(*agent)};
  for (const auto& [option, role] :
       {std::pair{"--install-hooks", Role::installHooks}, std::pair{"--remove-hooks", Role::removeHooks},
        std::pair{"--install-mcp", Role::installMcp}, std::pair{"--remove-mcp", Role::removeMcp}}) {
    const auto agent = valueOf(arguments, option);
    if (!agent) continue;
    if (!CodingAgent::find(*agent))
      return invalid("Lumacap: unknown agent “" + std::string(*agent) + "” (" + agentNames() + ")");
    return {.role = role, .action = {}, .error = {}, .agent = std::string(*agent)};
  }
  if (contains(arguments, "--install-claude-hooks"))
    return {.role = Role::installHooks, .action = {}, .error = {}, .agent = "claude"};
  if (contains(arguments, "--remove-claude-hooks"))
    return {.role = Role::removeHooks, .action = {}, .error = {}, .agent = "claude"};
  if (contains(arguments, "--help")) return {.role = Role::help, .action = {}, .error = {}, .agent = {}};
  if (contains(arguments, "--version"))
    return {.role = Role::version, .action = {}, .error = {}, .agent = {}};
  if (!arguments.empty() && arguments.front() == "mcp") {
    if (arguments.size() > 1) return invalid("Lumacap: “mcp” takes no options");
    return {.role = Role::mcp, .action = {}, .error = {}, .agent = {}};
  }
  CommandLine line;
  for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
    std::string_view name;
    if (argument->starts_with(delayPrefix) || *argument == delayPrefix.substr(0, delayPrefix.size() - 1)) {
      std::string_view value;
      if (argument->starts_with(delayPrefix)) {
        value = argument->substr(delayPrefix.size());
      } else if (std::next(argument) != arguments.end()) {
        value = *++argument;
      }
      const std::optional<int> seconds = delaySeconds(value);
      if (!seconds) return invalid("Lumacap: “--delay” needs a number of seconds from 1 to 60");
      line.delay = *seconds;
      continue;
    }
    if (argument->starts_with(actionPrefix)) {
      name = argument->substr(actionPrefix.size());
    } else if (*argument == actionPrefix.substr(0, actionPrefix.size() - 1)) {
      // `--action NAME`, as most programs take an option's value.
      if (std::next(argument) == arguments.end())
        return invalid("Lumacap: “--action” needs the name of an action");
      name = *++argument;
    } else {
      return invalid("Lumacap: unknown option “" + std::string(*argument) + "”");
    }
    if (!isAction(name)) return invalid("Lumacap: unknown action “" + std::string(name) + "”");
    if (!line.action.empty() && line.action != name) {
      return invalid("Lumacap: only one action at a time (“" + line.action + "” and “" + std::string(name) +
                     "”)");
    }
    line.action = name;
  }
  if (line.delay > 0 && !line.action.starts_with("capture-"))
    return invalid("Lumacap: “--delay” goes with a capture action, such as --action=capture-region");
  return line;
}

std::string CommandLine::synopsis() {
  std::string line = "Usage: lumacap [--action=ACTION [--delay=SECONDS]]";
  for (const Option& option : options) {
    if (!option.name.starts_with(actionPrefix) && !option.name.starts_with(delayPrefix))
      line += " | " + std::string(option.name);
  }
  return line + "\n";
}

std::string CommandLine::usage() {
  std::string text = synopsis() + "Lumacap: native Linux capture utility.\n\nOptions:\n";
  size_t width = 0;
  for (const Option& option : options) width = std::max(width, option.name.size());
  for (const Option& option : options) {
    text += "  " + std::string(option.name) + std::string(width - option.name.size() + 2, ' ') +
            std::string(option.description) + "\n";
  }
  text += "\nActions: ";
  for (const std::string_view action : actions)
    text += std::string(action) + (action == actions.back() ? "\n" : ", ");
  return text;
}

}  // namespace lumacap
