#pragma once

// Where the running instance answers on the session bus: the names both ends
// of the single-instance hand-off use (the running application's QtDBus
// adaptor and a later start's libdbus request). No Qt, no libdbus.
namespace lumacap::instancebus {

inline constexpr const char* serviceName = "org.lumacap.Lumacap";
inline constexpr const char* objectPath = "/org/lumacap/Lumacap";
inline constexpr const char* interfaceName = "org.freedesktop.Application";
// A running instance answers at once; one that does not within this time is
// taken to be stuck, and the starting process decides what to do about it.
inline constexpr int answerTimeoutMs = 5000;

// A coding agent's request for a capture (`lumacap mcp`'s request_capture):
// RequestCapture(s agent, s folder, s reason) -> s id, answered once the user
// has selected a region and the capture is saved, or with one of the errors
// below. One request at a time.
inline constexpr const char* agentsPath = "/org/lumacap/Lumacap/Agents";
inline constexpr const char* agentsInterface = "org.lumacap.Lumacap.Agents";
inline constexpr const char* requestCaptureMethod = "RequestCapture";
inline constexpr const char* busyError = "org.lumacap.Lumacap.Error.Busy";
inline constexpr const char* cancelledError = "org.lumacap.Lumacap.Error.Cancelled";
inline constexpr const char* timedOutError = "org.lumacap.Lumacap.Error.TimedOut";
inline constexpr const char* refusedError = "org.lumacap.Lumacap.Error.Refused";
inline constexpr const char* failedError = "org.lumacap.Lumacap.Error.Failed";
// How long the overlay waits for the user's selection; the caller waits a
// little longer for the answer.
inline constexpr int requestTimeoutSeconds = 120;

}  // namespace lumacap::instancebus
