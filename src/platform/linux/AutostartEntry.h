#pragma once

#include <filesystem>
#include <string>

#include "platform/StartAtLogin.h"

namespace lumacap {

// Starting Lumacap at login: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/org.lumacap.Lumacap.desktop (else
// ~/.config/autostart/…), which desktop sessions read when the user logs in.
// There is none until the user turns it on.
class AutostartEntry final : public StartAtLogin {
 public:
  // The entry in the user's autostart folder.
  AutostartEntry();
  explicit AutostartEntry(std::filesystem::path file);

  const std::filesystem::path& file() const { return file_; }

  // Read from the file each time, as a desktop session reads it (GLib's
  // key-file rules), so that an entry removed, switched off by hand
  // (Hidden=true, X-GNOME-Autostart-enabled=false), refused as unreadable or
  // starting no program shows as off.
  bool isEnabled() override;

  // Writes the entry (whole, in one step) to start the running executable,
  // or removes it. Throws std::runtime_error with one line naming the file.
  void setEnabled(bool enabled) override;

  // The entry that starts `executable` at login. Throws std::runtime_error
  // for a path that is not UTF-8 or holds a control character: a desktop
  // would not start it.
  static std::string contents(const std::filesystem::path& executable);
  // The program this process runs (the target of `link`); throws when it was
  // removed or replaced since it started, which the link shows as " (deleted)".
  static std::filesystem::path runningExecutable(const std::filesystem::path& link = "/proc/self/exe");

 private:
  std::filesystem::path file_;
};

}  // namespace lumacap
