#pragma once

#include <functional>
#include <string>

#include "app/cli/HookHandler.h"
#include "app/cli/McpInstaller.h"
#include "core/DesktopBackend.h"
#include "core/Shortcut.h"

namespace lumacap {

class AgentSessionRegistry;
class CaptureKeys;
class DesktopHotKey;
class FileBrowser;
class SettingsManager;
class StartAtLogin;

// Makes a shortcut the capture key; implemented by the application, which
// holds the hot key.
class ShortcutRegistration {
 public:
  virtual ~ShortcutRegistration() = default;
  // Throws what the hot key's registration threw; the key in force stays then.
  virtual void registerShortcut(const Shortcut& shortcut) = 0;
};

// The services the views use beside the model, handed to them by the
// composition root.
struct ViewContext {
  AgentSessionRegistry& registry;
  SettingsManager& settings;
  FileBrowser& fileBrowser;
  StartAtLogin& startAtLogin;
  // Installs (true) or removes (false) the Claude Code session hooks;
  // returns the message to show, throws on failure.
  std::function<std::string(bool install)> configureHooks;
  // Reads where the hooks go and whether they are there.
  std::function<HookStatus()> hookStatus;
  // Each agent's hooks and MCP server: their state (read off the GUI thread)
  // and their installer, which returns the message to show or throws.
  std::function<AgentSetupStatus(const CodingAgent&)> agentStatus;
  std::function<std::string(const CodingAgent&, AgentSetupPart, bool install)> configureAgent;
  // What does not work on this desktop, said in Settings and the tray's tooltip.
  DesktopLimits desktopLimits = {};
  // How the capture shortcut reaches Lumacap on this desktop; none in tests that leave it out.
  DesktopHotKey* desktopHotKey = nullptr;
  // The keys of the other kinds of capture; none in tests that leave them out.
  CaptureKeys* captureKeys = nullptr;
  // Set by the application once its hot key is in place; none until then.
  ShortcutRegistration* shortcuts = nullptr;
};

}  // namespace lumacap
