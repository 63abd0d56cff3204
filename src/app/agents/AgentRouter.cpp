#include "app/agents/AgentRouter.h"

#include <QImage>
#include <algorithm>
#include <array>
#include <string_view>

#include "core/StagingText.h"

namespace lumacap {
namespace {

// The window classes of the common Linux terminals. Claude Code pastes an
// image there with Ctrl+V, and a terminal pastes text with Ctrl+Shift+V.
constexpr std::array<std::string_view, 17> terminals = {"XTerm",
                                                        "UXTerm",
                                                        "URxvt",
                                                        "kitty",
                                                        "Alacritty",
                                                        "Gnome-terminal",
                                                        "org.gnome.Console",
                                                        "konsole",
                                                        "Xfce4-terminal",
                                                        "org.wezfurlong.wezterm",
                                                        "foot",
                                                        "Tilix",
                                                        "Terminator",
                                                        "Mate-terminal",
                                                        "Lxterminal",
                                                        "com.mitchellh.ghostty",
                                                        "org.gnome.Ptyxis"};

std::string bundleOf(const std::optional<DesktopApplication>& application) {
  return application ? application->bundleIdentifier.value_or("") : "";
}

}  // namespace

AgentRouter::AgentRouter(Pasteboard& pasteboard, AgentIntegrationProtocol& integration)
    : pasteboard_(&pasteboard), integration_(&integration) {}

QCoro::Task<DeliveryReceipt> AgentRouter::stage(std::filesystem::path file, std::string prompt,
                                                AgentDestination destination) const {
  if (!destination.session) {
    pasteboard_->setText(StagingText::make(file, prompt));
    co_return DeliveryReceipt{
        "Copied",
        "Path and message copied. Paste into your agent to attach the saved image. Nothing was submitted."};
  }
  co_return co_await integration_->stage(std::move(file), std::move(prompt), std::move(destination));
}

QFuture<bool> Clipboard::copyImage(Pasteboard& pasteboard, const QImage& image, QFuture<QByteArray> png) {
  return pasteboard.setImage(image, std::move(png));
}

std::string PasteHint::afterMarkup(bool redacted) {
  return redacted ? "Redacted copy on the clipboard · Ctrl+V to paste"
                  : "Marked-up copy on the clipboard · Ctrl+V to paste";
}

bool PasteHint::isTerminal(const std::string& bundleIdentifier) {
  return std::find(terminals.begin(), terminals.end(), bundleIdentifier) != terminals.end();
}

std::string PasteHint::make(const std::optional<DesktopApplication>& returnApplication) {
  std::string name = "your app";
  if (returnApplication && returnApplication->localizedName && !returnApplication->localizedName->empty()) {
    name = *returnApplication->localizedName;
  }
  if (isTerminal(bundleOf(returnApplication))) return "Ready in " + name + " · Claude image paste: Ctrl+V";
  return "Ready in " + name + " · Ctrl+V to paste";
}

std::string PasteHint::afterTextCopied(const std::optional<DesktopApplication>& returnApplication) {
  if (isTerminal(bundleOf(returnApplication))) return "Path + message copied · Ctrl+Shift+V to paste";
  return "Path + message copied · Ctrl+V to paste";
}

std::string PasteHint::afterStaging(bool terminalBroughtForward) {
  if (terminalBroughtForward) return "Staged · its terminal is in front · Ctrl+Shift+V to paste";
  return "Staged · select the session and paste";
}

}  // namespace lumacap
