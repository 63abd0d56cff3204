#include "app/gui/WaylandClipboardAndCard.h"

#include "app/views/LayerShellCard.h"
#include "app/views/NotificationCard.h"
#include "platform/linux/DesktopNotifications.h"
#include "platform/wayland/DataControlPasteboard.h"
#include "platform/wayland/FocusedPasteboard.h"
#include "platform/wayland/LayerShellSurface.h"
#include "platform/wayland/WaylandConnection.h"

namespace lumacap {

WaylandClipboardAndCard WaylandClipboardAndCard::choose(bool notificationServer) {
  WaylandClipboardAndCard chosen;
  std::shared_ptr<WaylandConnection> connection = WaylandConnection::open();
  if (auto dataControl = DataControlPasteboard::create(connection)) {
    chosen.pasteboard = std::move(dataControl);
    chosen.clipboard = ClipboardMechanism::dataControl;
  } else {
    chosen.pasteboard = std::make_unique<FocusedPasteboard>();
    chosen.clipboard = ClipboardMechanism::inputHandler;
  }
  if (connection && connection->offers("zwlr_layer_shell_v1")) {
    chosen.card = CardMechanism::layerShell;
    chosen.makeCard = [connection](AppModel& model) -> std::unique_ptr<CaptureCard> {
      std::unique_ptr<LayerShellSurface> surface = LayerShellSurface::create(connection);
      if (!surface) return nullptr;
      return std::make_unique<LayerShellCard>(model, std::move(surface));
    };
  } else if (notificationServer) {
    chosen.card = CardMechanism::notification;
    chosen.makeCard = [](AppModel& model) -> std::unique_ptr<CaptureCard> {
      return std::make_unique<NotificationCard>(model, std::make_unique<FreedesktopNotifications>());
    };
  }
  return chosen;
}

}  // namespace lumacap
