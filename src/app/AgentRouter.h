#pragma once

#include <optional>
#include <string>

#include "app/AgentIntegration.h"

class QImage;

namespace lumacap {

// The one way a saved capture reaches its destination: the router writes the
// clipboard itself and hands sessions to the agent integration. It routes on
// whether the destination carries a session, never on its id or title.
class AgentRouter {
 public:
  AgentRouter(Pasteboard& pasteboard, AgentIntegrationProtocol& integration);

  // For the clipboard: the staging text replaces whatever the clipboard held
  // ("Copied"). For a session: the integration's receipt ("Staged"), or its
  // error unchanged.
  QCoro::Task<DeliveryReceipt> stage(std::filesystem::path file, std::string prompt,
                                     AgentDestination destination) const;

 private:
  Pasteboard* pasteboard_;
  AgentIntegrationProtocol* integration_;
};

// Clipboard writes of the captured image itself.
struct Clipboard {
  Clipboard() = delete;

  // Replaces the clipboard with the image alone, in the image types other
  // applications paste; no text, path or file URL goes with it.
  static void copyImage(Pasteboard& pasteboard, const QImage& image);
};

// How the application words its hint after an image has been copied.
struct PasteHint {
  PasteHint() = delete;

  static constexpr const char* initial = "Paste into your app";

  // "Ready in <name> · …", with the Control-key paste for the terminals whose
  // Claude Code image paste uses it, and the Command-key paste otherwise.
  static std::string make(const std::optional<DesktopApplication>& returnApplication);
  // Exact, case-sensitive match against the fixed set of terminal identifiers.
  static bool pastesImagesWithControl(const std::string& bundleIdentifier);
};

}  // namespace lumacap
