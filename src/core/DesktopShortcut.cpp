#include "core/DesktopShortcut.h"

#include "core/DesktopBackend.h"
#include "core/Unicode.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

namespace lumacap {
namespace {

// The key's own symbol name: a digit, or a lower-case letter, as xkb names them.
std::string keyName(const Shortcut& shortcut) {
  std::string name = shortcut.keyLabel;
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return name;
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

bool isPlainShellWord(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == '=';
  });
}

std::string shellQuoted(const std::string& text) {
  if (isPlainShellWord(text)) return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string xmlEscaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '&')
      escaped += "&amp;";
    else if (c == '<')
      escaped += "&lt;";
    else if (c == '>')
      escaped += "&gt;";
    else if (c == '"')
      escaped += "&quot;";
    else
      escaped += c;
  }
  return escaped;
}

// The command of a sway binding: one double-quoted argument of exec, so that sway neither splits
// it at ; or , nor collapses its spaces, and hands it whole to sh -c. sway reads the line twice
// (as configuration, then as the binding's command), replacing $variables each time ($$ is a $);
// the first reading also takes backslash escapes. For sh the path is single-quoted, with its ' and
// " written outside the quotes (\' \") and each backslash followed by a quote, so that sway never
// takes one as escaping a " or a $.
std::string swayExecArgument(const std::string& executable, const std::string& action) {
  std::string shell = "'";
  for (const char c : executable) {
    if (c == '\'')
      shell += "'\\''";
    else if (c == '"')
      shell += "'\\\"'";
    else if (c == '\\')
      shell += "\\''";
    else
      shell += c;
  }
  shell += "' --action=" + action;
  std::string argument = "\"";
  for (const char c : shell) {
    if (c == '$')
      argument += "$$$$";  // a $ after each of the two readings
    else if (c == '\\' || c == '"')
      argument += std::string("\\") + c;
    else
      argument += c;
  }
  return argument + "\"";
}

// The characters a compositor's configuration changes in a command and offers no quoting for:
// Hyprland's variables (environment variables among them), escapes and {{expressions}}, and the
// ~ that labwc replaces with the home folder wherever it stands.
std::string_view unquotableCharacters(ConfiguredCompositor compositor) {
  if (compositor == ConfiguredCompositor::hyprland) return "$\\{}";
  if (compositor == ConfiguredCompositor::labwc) return "~";
  return {};
}

std::optional<ConfigLineRefusal> refusalOf(ConfiguredCompositor compositor, const std::string& executable) {
  if (!unicode::isValidUtf8(executable)) return ConfigLineRefusal::notUtf8;
  for (const char32_t c : unicode::decode(executable))
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f)) return ConfigLineRefusal::controlCharacter;
  if (executable.find_first_of(unquotableCharacters(compositor)) != std::string::npos)
    return ConfigLineRefusal::unquotableCharacter;
  return std::nullopt;
}

// The modifiers in the order Ctrl, Alt, Shift, Super, each by the name `names` gives it.
std::vector<std::string> modifierNames(const Shortcut& shortcut, const char* ctrl, const char* alt,
                                       const char* shift, const char* super) {
  std::vector<std::string> names;
  if (shortcut.control) names.push_back(ctrl);
  if (shortcut.option) names.push_back(alt);
  if (shortcut.shift) names.push_back(shift);
  if (shortcut.command) names.push_back(super);
  return names;
}

// The modifiers in the order Super, Shift, Ctrl, Alt, as Hyprland's, river's
// and labwc's documentation write them.
std::vector<std::string> superFirstNames(const Shortcut& shortcut, const char* ctrl, const char* alt,
                                         const char* shift, const char* super) {
  std::vector<std::string> names;
  if (shortcut.command) names.push_back(super);
  if (shortcut.shift) names.push_back(shift);
  if (shortcut.control) names.push_back(ctrl);
  if (shortcut.option) names.push_back(alt);
  return names;
}

}  // namespace

std::optional<ConfiguredCompositor> configuredCompositor(Desktop desktop,
                                                         const std::vector<std::string>& currentDesktops) {
  if (desktop == Desktop::sway) return ConfiguredCompositor::sway;
  if (desktop == Desktop::hyprland) return ConfiguredCompositor::hyprland;
  if (desktop != Desktop::wlroots && desktop != Desktop::otherWayland) return std::nullopt;
  for (std::string name : currentDesktops) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (name == "river") return ConfiguredCompositor::river;
    if (name == "labwc") return ConfiguredCompositor::labwc;
    if (name == "sway") return ConfiguredCompositor::sway;
    if (name == "hyprland") return ConfiguredCompositor::hyprland;
  }
  return std::nullopt;
}

std::string captureCommand(const std::string& executable, const std::string& action) {
  return shellQuoted(executable) + " --action=" + action;
}

std::string gnomeKeybindingPathFor(const std::string& action) {
  if (action == "capture-region") return gnomeKeybindingPath;
  return "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/lumacap-" + action + "/";
}

std::string portalTrigger(const Shortcut& shortcut, const std::optional<std::string>& shiftedKeyName) {
  std::string key = keyName(shortcut);
  bool shift = shortcut.shift;
  if (shift && shiftedKeyName && !shiftedKeyName->empty()) {
    std::string lowered = *shiftedKeyName;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (lowered != key) {
      key = *shiftedKeyName;
      shift = false;
    }
  }
  Shortcut modifiers = shortcut;
  modifiers.shift = shift;
  std::vector<std::string> parts = modifierNames(modifiers, "CTRL", "ALT", "SHIFT", "LOGO");
  parts.push_back(key);
  return joined(parts, "+");
}

std::string gnomeAccelerator(const Shortcut& shortcut) {
  std::string accelerator;
  for (const std::string& name : modifierNames(shortcut, "<Control>", "<Alt>", "<Shift>", "<Super>"))
    accelerator += name;
  return accelerator + keyName(shortcut);
}

CompositorConfigLine compositorConfigLine(ConfiguredCompositor compositor, const Shortcut& shortcut,
                                          const std::string& executable, const std::string& action) {
  if (const auto refused = refusalOf(compositor, executable)) return {{}, refused};
  const std::string key = keyName(shortcut);
  const std::string command = captureCommand(executable, action);
  switch (compositor) {
    case ConfiguredCompositor::sway: {
      std::vector<std::string> parts = modifierNames(shortcut, "Ctrl", "Mod1", "Shift", "Mod4");
      parts.push_back(key);
      return {"bindsym " + joined(parts, "+") + " exec " +
                  (isPlainShellWord(executable) ? command : swayExecArgument(executable, action)),
              std::nullopt};
    }
    case ConfiguredCompositor::hyprland: {
      const std::vector<std::string> names = superFirstNames(shortcut, "CTRL", "ALT", "SHIFT", "SUPER");
      std::string escaped;  // "##" is a # that does not start a comment
      for (const char c : command) escaped += c == '#' ? std::string("##") : std::string(1, c);
      return {"bind = " + joined(names, " ") + ", " + key + ", exec, " + escaped, std::nullopt};
    }
    case ConfiguredCompositor::river: {
      const std::vector<std::string> names = superFirstNames(shortcut, "Control", "Alt", "Shift", "Super");
      return {"riverctl map normal " + (names.empty() ? std::string("None") : joined(names, "+")) + " " +
                  key + " spawn " + shellQuoted(command),
              std::nullopt};
    }
    case ConfiguredCompositor::labwc: {
      std::vector<std::string> parts = superFirstNames(shortcut, "C", "A", "S", "W");
      parts.push_back(key);
      return {"<keybind key=\"" + joined(parts, "-") + "\"><action name=\"Execute\" command=\"" +
                  xmlEscaped(command) + "\" /></keybind>",
              std::nullopt};
    }
  }
  return {};
}

std::string configLineRefusalText(ConfigLineRefusal refusal, ConfiguredCompositor compositor,
                                  const Shortcut& shortcut, bool exampleFollows) {
  const std::string name = compositorName(compositor);
  std::string what;
  switch (refusal) {
    case ConfigLineRefusal::notUtf8:
      what = "bytes that are not UTF-8 text";
      break;
    case ConfigLineRefusal::controlCharacter:
      what = "a line break or another control character";
      break;
    case ConfigLineRefusal::unquotableCharacter: {
      std::string characters;
      for (const char c : unquotableCharacters(compositor))
        characters += (characters.empty() ? "" : " ") + std::string(1, c);
      what = "a character that " + name + " would change in a command (" + characters + ")";
      break;
    }
  }
  return "Lumacap’s path holds " + what + ", which no line of " + name +
         "’s configuration can carry, so Lumacap shows none to copy. To capture with " + shortcut.label() +
         " all the same, make a link to Lumacap from a path of plain letters (in a terminal: ln -s, "
         "Lumacap’s path, then ~/.local/bin/lumacap). Then add " +
         (exampleFollows ? "the line below" : "a line that runs the link with --action=capture-region") +
         " to " + compositorConfigPlace(compositor) + ".";
}

std::string compositorConfigPlace(ConfiguredCompositor compositor) {
  switch (compositor) {
    case ConfiguredCompositor::sway:
      return "~/.config/sway/config, then reload sway";
    case ConfiguredCompositor::hyprland:
      return "~/.config/hypr/hyprland.conf";
    case ConfiguredCompositor::river:
      return "~/.config/river/init (or run it once in a terminal)";
    case ConfiguredCompositor::labwc:
      return "the <keyboard> section of ~/.config/labwc/rc.xml, then labwc --reconfigure";
  }
  return {};
}

std::string compositorName(ConfiguredCompositor compositor) {
  switch (compositor) {
    case ConfiguredCompositor::sway:
      return "sway";
    case ConfiguredCompositor::hyprland:
      return "Hyprland";
    case ConfiguredCompositor::river:
      return "river";
    case ConfiguredCompositor::labwc:
      return "labwc";
  }
  return {};
}

std::optional<std::string> hotKeyInForceText(HotKeyMechanism mechanism, const std::string& label,
                                             const std::optional<std::string>& assigned,
                                             std::optional<ConfiguredCompositor> compositor, bool bound) {
  switch (mechanism) {
    case HotKeyMechanism::x11Grab:
      return std::nullopt;
    case HotKeyMechanism::portal:
      if (assigned && !assigned->empty() && *assigned != label)
        return "Capture shortcut: " + label + " through the desktop’s global shortcuts, which names it " +
               *assigned + ".";
      return "Capture shortcut: " + label + " through the desktop’s global shortcuts.";
    case HotKeyMechanism::gnomeKeybinding:
      if (bound)
        return "Capture shortcut: " + label + " through a GNOME keyboard shortcut that runs Lumacap.";
      return "GNOME gives programs no global shortcuts: add a GNOME keyboard shortcut in Lumacap’s Settings "
             "to "
             "capture with " +
             label + ".";
    case HotKeyMechanism::compositorLine:
      return compositorName(compositor.value_or(ConfiguredCompositor::sway)) +
             " binds keys in its own configuration: add the line Lumacap’s Settings shows to capture with " +
             label + ".";
    case HotKeyMechanism::none:
      return shortcutUnavailableText;
  }
  return std::nullopt;
}

std::string gnomeManualSteps(const Shortcut& shortcut, const std::string& command) {
  return "Or add it yourself: open GNOME Settings → Keyboard → View and Customize Shortcuts → Custom "
         "Shortcuts, click +, name it “Lumacap capture”, enter the command “" +
         command + "”, and set the shortcut " + shortcut.label() + ".";
}

}  // namespace lumacap
