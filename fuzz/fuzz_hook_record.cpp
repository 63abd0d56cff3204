// The hook record decoder on arbitrary bytes: it must either refuse them with
// one of its two error types or return a record within the documented limits.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string_view>

#include "core/AgentSession.h"

using lumacap::HookInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const HookInput input = HookInput::decode(bytes);
    const bool knownEvent = std::find(std::begin(HookInput::events), std::end(HookInput::events),
                                      input.hook_event_name) != std::end(HookInput::events);
    if (input.session_id.empty() || !input.cwd.starts_with('/') || !knownEvent) std::abort();
  } catch (const lumacap::HookInputError&) {
  } catch (const lumacap::HookDecodingError&) {
  }
  return 0;
}
