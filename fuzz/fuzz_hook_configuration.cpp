// Feeds arbitrary bytes as Claude Code's settings file to the hook installer's
// transformation, installing and removing. For every input it must either
// refuse with one of its documented errors or produce JSON that:
//   - reads back, with every setting outside the four events unchanged,
//   - holds exactly one hook of this program per event after installing and
//     none after removing,
//   - comes out the same when transformed again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/HookConfiguration.h"
#include "core/ScreenshotStore.h"

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

void exercise(const std::optional<std::string>& existing, bool install) {
  std::string output;
  try {
    output = HookConfiguration::merging(existing, program, install);
  } catch (const lumacap::SettingsParseError& error) {
    // Only text a standard reader refuses too, or nesting beyond the limit.
    check(existing &&
              (!json::accept(*existing) || error.detail().find("nested more than") != std::string::npos),
          "valid JSON refused as unreadable");
    return;
  } catch (const lumacap::StoreError& error) {
    check(error.kind() == lumacap::StoreError::Kind::invalidIndex, "unexpected store error");
    return;
  }

  check(json::accept(output), "output is not JSON");
  const json written = HookConfiguration::parse(output);
  const json original = existing ? HookConfiguration::parse(*existing) : json::object();
  check(outsideOwnEvents(written) == outsideOwnEvents(original), "another setting changed");

  const std::string command = HookConfiguration::hookCommand(program);
  for (const auto event : HookConfiguration::events) {
    const json& entries = written.at("hooks").at(std::string(event));
    check(programHooks(entries, command) == (install ? 1u : 0u), "wrong number of own hooks");
  }
  check(HookConfiguration::merging(output, program, install) == output, "a second run changed the file");
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
