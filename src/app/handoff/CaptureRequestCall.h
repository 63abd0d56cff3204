#pragma once

#include <cstddef>

namespace lumacap {

// What became of a capture request to the running instance.
enum class RequestOutcome : int {
  pending,     // no answer yet
  captured,    // the user selected a region: the id is the saved capture's
  noInstance,  // no Lumacap runs (or no session bus)
  busy,        // another request is being answered
  cancelled,   // the user cancelled the selection
  timedOut,    // nobody selected anything in time
  refused,     // agents' access is off, or the caller is not the user
  failed,      // the instance answered something else, or the bus went away
};

// `lumacap mcp`'s request_capture, carried over the session bus with
// libdbus-1 from liblumacap-handoff.so (loaded only when an agent asks):
// sends RequestCapture and lets the caller poll for the answer on a file
// descriptor, so that it keeps reading its own input meanwhile. Ending a call
// that is still pending closes its bus connection, which the instance takes
// as a cancel.
struct CaptureRequestCalls {
  // The call, or null with `outcome` set (noInstance without a bus).
  void* (*start)(const char* agent, const char* folder, const char* reason, int timeoutMs, int* outcome);
  // The descriptor to wait on for readability.
  int (*descriptor)(void* call);
  // Reads what arrived; the outcome, with the capture's id written into `id`
  // (NUL-terminated, cut to `idSize`) when it is `captured`.
  int (*step)(void* call, char* id, size_t idSize);
  void (*end)(void* call);
};

}  // namespace lumacap

// The library's entry, found with dlsym.
extern "C" const lumacap::CaptureRequestCalls* lumacapCaptureRequestCalls();
