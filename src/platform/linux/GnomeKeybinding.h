#pragma once

#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "core/DesktopShortcut.h"

namespace lumacap {

// Lumacap's own GNOME custom keybinding, kept with the gsettings command under
// org.gnome.settings-daemon.plugins.media-keys (the list custom-keybindings and the relocatable
// custom-keybinding schema at Lumacap's path), where GNOME's Settings shows and edits it.
// It holds no state and only runs processes, waiting for each: call it on a worker thread, never on
// the GUI thread; a copy serves as well as the original.
class GnomeKeybinding {
 public:
  // The keybinding at this settings path, listed in GNOME's Settings under `name`.
  explicit GnomeKeybinding(std::string path = gnomeKeybindingPath, std::string name = "Lumacap capture")
      : path_(std::move(path)), name_(std::move(name)) {}

  // Whether the list of custom keybindings holds Lumacap's.
  bool present() const;
  // Adds Lumacap's keybinding, or rewrites it: `accelerator` as GNOME writes it ("<Shift><Super>2").
  // Throws ProgramError with a one-line reason when gsettings fails.
  void write(const std::string& accelerator, const std::string& command) const;
  // Takes Lumacap's keybinding out of the list and clears its keys.
  void remove() const;

 private:
  // gsettings' output; throws ProgramError when it fails.
  std::string gsettings(const QStringList& arguments) const;
  std::vector<std::string> bindings() const;
  QString bindingSchema() const;

  std::string path_, name_;
};

}  // namespace lumacap
