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

}  // namespace lumacap::instancebus
