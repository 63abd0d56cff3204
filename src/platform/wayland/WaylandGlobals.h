#pragma once

#include <set>
#include <string>

namespace lumacap {

// The interface names of the globals the compositor at $WAYLAND_DISPLAY announces, from one
// registry round trip on a connection of its own; empty when it cannot connect.
std::set<std::string> waylandGlobals();

}  // namespace lumacap
