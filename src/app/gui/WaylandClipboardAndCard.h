#pragma once

#include <memory>
#include <string>

#include "app/views/CardPresenter.h"
#include "platform/Pasteboard.h"

namespace lumacap {

class WaylandConnection;

// The clipboard and the card of a Wayland session, chosen by what the
// compositor offers: data-control and layer-shell on Lumacap's own connection
// (KWin, wlroots desktops); otherwise Qt's clipboard from input handlers and
// a desktop notification (GNOME).
struct WaylandClipboardAndCard {
  std::unique_ptr<Pasteboard> pasteboard;
  CardPresenter::CardFactory makeCard;
  std::string clipboardMechanism;  // "data-control" or "input handler"
  std::string cardMechanism;       // "layer-shell", "notification" or "none"

  // Needs the QApplication on the wayland platform.
  static WaylandClipboardAndCard choose();
};

}  // namespace lumacap
