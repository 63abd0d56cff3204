// Feeds arbitrary bytes as Claude Code's settings file to the hook installer's
// transformation, installing and removing. For every input it must either
// refuse with one of its documented errors or produce JSON that:
//   - reads back, with every setting outside the four events unchanged,
//   - holds exactly one hook of this program per event after installing and
//     none after removing,
//   - needs no further change when transformed again.
// When it changes nothing, the input must already be in that state.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/AtomicFile.h"
#include "core/HookConfiguration.h"

namespace {

using json = nlohmann::json;
using lumacap::HookConfiguration;

const std::string program = "/opt/it's here/lumacap";

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "hook configuration invariant broken: %s\n", what);
    std::abort();
  }
}

size_t programHooks(const json& entries, const std::string& command) {
  size_t count = 0;
  for (const json& entry : entries) {
    const auto hooks = entry.find("hooks");
    // Entries whose hooks are not all hook objects are left as they are.
    if (hooks == entry.end() || !hooks->is_array()) continue;
    if (!std::all_of(hooks->begin(), hooks->end(), [](const json& hook) { return hook.is_object(); }))
      continue;
    for (const json& hook : *hooks) count += hook.value("command", json()) == command;
  }
  return count;
}

// Everything except the four events this program edits.
json outsideOwnEvents(json settings) {
  if (!settings.is_object()) return settings;
  if (auto hooks = settings.find("hooks"); hooks != settings.end() && hooks->is_object()) {
    for (const auto event : HookConfiguration::events) hooks->erase(std::string(event));
    if (hooks->empty()) settings.erase(hooks);
  }
  return settings;
}

// The number of this program's hooks in each of the four events.
void checkOwnHooks(const json& settings, bool install) {
  const std::string command = HookConfiguration::hookCommand(program);
  const json hooks = settings.value("hooks", json::object());
  for (const auto event : HookConfiguration::events) {
    const json entries = hooks.value(std::string(event), json::array());
    check(programHooks(entries, command) == (install ? 1u : 0u), "wrong number of own hooks");
  }
}

void exercise(const std::optional<std::string>& existing, bool install) {
  std::optional<std::string> output;
  try {
    output = HookConfiguration::merging(existing, program, install);
  } catch (const lumacap::FileError& error) {
    // Text a standard reader refuses too, nesting beyond the limit, or a
    // structure of the wrong shape.
    check(existing.has_value(), "no file refused");
    // A standard reader stops at a NUL byte; this one refuses the text.
    check(!json::accept(*existing) || existing->find('\0') != std::string::npos ||
              error.problem().find("not valid JSON") == std::string::npos ||
              error.problem().find("nested more than") != std::string::npos,
          "valid JSON refused as unreadable");
    return;
  }
  const json original = existing ? json(HookConfiguration::parse(*existing)) : json::object();
  if (!output) {
    checkOwnHooks(original, install);
    return;
  }
  check(json::accept(*output), "output is not JSON");
  const json written = HookConfiguration::parse(*output);
  check(outsideOwnEvents(written) == outsideOwnEvents(original), "another setting changed");
  checkOwnHooks(written, install);
  check(!HookConfiguration::merging(*output, program, install), "a second run changed the file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::optional<std::string> existing =
      size == 0 ? std::nullopt
                : std::optional<std::string>(std::string(reinterpret_cast<const char*>(data), size));
  exercise(existing, true);
  exercise(existing, false);
  return 0;
}
