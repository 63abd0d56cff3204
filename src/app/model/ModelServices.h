#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "core/Date.h"
#include "core/ScreenshotStore.h"

class QString;

namespace lumacap {

class AgentRouter;
class AgentSessionRegistry;
class AppWindows;
class CaptureManager;
class OCRService;
class Pasteboard;
class SettingsManager;
class Workspace;

// The questions and notices the model puts to the user in a modal way. The
// application answers them with dialogs; tests answer them in code.
class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  // An alert titled "Lumacap" with the message and one "OK" button.
  virtual void alert(const QString& message) = 0;
  // Where to write an exported copy; nothing when the user cancels.
  virtual std::optional<std::filesystem::path> exportLocation(const QString& proposedName) = 0;
};

// Everything the model and its parts work with; they build none of these.
struct ModelServices {
  // Opens the history store; may throw (the model then runs without one).
  std::function<std::unique_ptr<ScreenshotStore>()> openStore;
  AgentSessionRegistry& registry;
  SettingsManager& settings;
  CaptureManager& captureManager;
  OCRService& ocr;
  AgentRouter& router;
  Pasteboard& pasteboard;
  Workspace& workspace;
  UserPrompts& prompts;
  AppWindows& windows;
  std::function<Date()> clock = &Date::now;
  // How long the thumbnail stays once the pointer is not on it.
  std::chrono::milliseconds dismissalDelay = std::chrono::seconds(7);
  // How often destinations are refreshed while the preview is open.
  std::chrono::milliseconds refreshInterval = std::chrono::seconds(8);
};

}  // namespace lumacap
