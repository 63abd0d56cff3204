#pragma once

#include <memory>

#include "platform/wayland/WaylandScreenSource.h"

namespace lumacap {

// The screen of a wlroots compositor (sway, Hyprland, river, labwc…) through
// zwlr_screencopy_manager_v1: the exact pixels of one output at its full
// density, copied into shared memory on a Wayland connection of our own,
// read off the GUI thread.
class WlrScreencopySource final : public WaylandScreenSource {
 public:
  WlrScreencopySource();
  ~WlrScreencopySource() override;

  struct Connection;

 protected:
  QFuture<QImage> outputImage(const WaylandOutput& output, const PixelRect& source,
                              const std::vector<WaylandOutput>& layout) override;

 private:
  std::shared_ptr<Connection> connection_;
};

}  // namespace lumacap
