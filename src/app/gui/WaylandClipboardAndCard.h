#pragma once

#include <memory>
#include "app/views/CardPresenter.h"
#include "core/DesktopBackend.h"
#include "platform/Pasteboard.h"

namespace lumacap {

class WaylandConnection;

// The clipboard and the card of a Wayland session, built on what the
// compositor offers: data-control and layer-shell on Lumacap's own connection
// (KWin, wlroots desktops); otherwise Qt's clipboard from input handlers and
// a desktop notification (GNOME). `clipboard` and `card` say what was built:
// the record the log line, Settings and the tooltip report.
struct WaylandClipboardAndCard {
  std::unique_ptr<Pasteboard> pasteboard;
  CardPresenter::CardFactory makeCard;
  ClipboardMechanism clipboard = ClipboardMechanism::inputHandler;
  CardMechanism card = CardMechanism::none;

  // Needs the QApplication on the wayland platform. `notificationServer`:
  // whether the session bus has one (the probe's answer).
  static WaylandClipboardAndCard choose(bool notificationServer);
};

}  // namespace lumacap
