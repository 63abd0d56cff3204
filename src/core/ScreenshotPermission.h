#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumacap {

// What xdg-desktop-portal keeps for one application in its permission store
// (table and id "screenshot"): its Screenshot portal shows the desktop's
// "Allow … to Take Screenshots?" dialog while nothing is stored, stores the
// answer, and from then on answers without asking.
enum class ScreenshotPermission { granted, refused, unset };

// The stored values of one application: ["yes"] or ["no"]; anything else
// ("ask", nothing) makes the portal ask.
ScreenshotPermission screenshotPermissionOf(const std::vector<std::string>& stored);

// The application id the portal gives an unsandboxed program, from the
// program's /proc/PID/cgroup: the id in the name of its systemd user unit
// ("app-gnome-org.lumacap.Lumacap-1234.scope" → "org.lumacap.Lumacap"), or
// "" when the program runs in no such unit (started from a terminal, or with
// no systemd user manager).
std::string portalApplicationID(std::string_view procCgroup);

// The portal's parent_window for a Wayland toplevel exported under `handle`
// with xdg-foreign ("wayland:<handle>"); empty without a handle.
std::string waylandParentWindow(std::string_view handle);

}  // namespace lumacap
