#include "app/AgentRouter.h"

#include <QImage>
#include <array>
#include <string_view>

#include "core/StagingText.h"

namespace lumacap {
namespace {

// Terminals (by bundle identifier, or by window class on X11) in which Claude
// Code pastes an image with Control-V. On Linux that is every terminal, so the
// common terminals' window classes join the macOS ones.
constexpr std::array<std::string_view, 19> terminalsPastingImagesWithControl = {"com.apple.Terminal",
                                                                                "com.googlecode.iterm2",
                                                                                "com.mitchellh.ghostty",
                                                                                "dev.warp.Warp-Stable",
                                                                                "XTerm",
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
                                                                                "Lxterminal"};

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

void Clipboard::copyImage(Pasteboard& pasteboard, const QImage& image) { pasteboard.setImage(image); }

bool PasteHint::pastesImagesWithControl(const std::string& bundleIdentifier) {
  for (const std::string_view terminal : terminalsPastingImagesWithControl) {
    if (terminal == bundleIdentifier) return true;
  }
  return false;
}

std::string PasteHint::make(const std::optional<DesktopApplication>& returnApplication) {
  std::string name = "your app";
  std::string bundleIdentifier;
  if (returnApplication) {
    if (returnApplication->localizedName && !returnApplication->localizedName->empty()) {
      name = *returnApplication->localizedName;
    }
    bundleIdentifier = returnApplication->bundleIdentifier.value_or("");
  }
  if (pastesImagesWithControl(bundleIdentifier)) return "Ready in " + name + " · Claude image paste: ⌃V";
  return "Ready in " + name + " · ⌘V to paste";
}

}  // namespace lumacap
