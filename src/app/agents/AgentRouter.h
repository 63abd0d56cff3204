#pragma once

#include <QByteArray>
#include <QFuture>
#include <optional>
#include <string>

#include "app/agents/AgentIntegration.h"

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
  // applications paste; no text, path or file URL goes with it. `png` is its
  // PNG encoding, finished or under way. The answer: whether the clipboard
  // really holds the image (the pasteboard's answer).
  static QFuture<bool> copyImage(Pasteboard& pasteboard, const QImage& image, QFuture<QByteArray> png);
};

// How the application words its hint after an image has been copied.
struct PasteHint {
  PasteHint() = delete;

  static constexpr const char* initial = "Paste into your app";
  // The desktop kept the image off the clipboard; the preview can copy it.
  static constexpr const char* notCopied = "Not on the clipboard · Edit, then Copy Image";

  // "Ready in <name> · …": Claude Code's image paste in terminals, the usual
  // paste elsewhere.
  static std::string make(const std::optional<DesktopApplication>& returnApplication);
  // After the path and message went to the clipboard: terminals paste text
  // with Ctrl+Shift+V, other applications with Ctrl+V.
  static std::string afterTextCopied(const std::optional<DesktopApplication>& returnApplication);
  // After a staging for a session: where its terminal is decides what is left to do.
  static std::string afterStaging(bool terminalBroughtForward);
  // After a mark-up was applied: what the clipboard now holds.
  static std::string afterMarkup(bool redacted);
  // Exact, case-sensitive match against the window classes of the common terminals.
  static bool isTerminal(const std::string& bundleIdentifier);
};

}  // namespace lumacap
