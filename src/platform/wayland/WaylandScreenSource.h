#pragma once

#include <QRect>
#include <map>
#include <string>
#include <vector>

#include "platform/ReadyFuture.h"
#include "platform/ScreenSource.h"

namespace lumacap {

// One output as Qt's wayland platform describes it: its name, its frame in
// the global logical layout and its scale.
struct WaylandOutput {
  std::string name;
  QRect frame;
  double scale = 1;
  bool operator==(const WaylandOutput&) const = default;
};

// Display numbers for outputs by name: an output keeps its number for as long
// as the program runs, even when others come and go.
class OutputNumbers {
 public:
  uint32_t numberOf(const std::string& name);

 private:
  std::map<std::string, uint32_t> numbers_;
};

// What every Wayland screen source shares. The displays are the outputs Qt
// knows (QScreen on the wayland platform: names, logical geometry, scale);
// the pixels of one output come from the compositor through the subclass.
// The Wayland protocols give ordinary programs no window list, so this source
// lists none; where a compositor has its own (KWin's scripts, sway's and
// Hyprland's IPC), WindowListScreenSource adds the windows around it. Every
// Wayland compositor composites.
class WaylandScreenSource : public ScreenSource {
 public:
  bool canRecordScreen() override { return true; }
  QFuture<bool> requestScreenRecording() override { return readyFuture(true); }
  QFuture<ShareableContent> shareableContent() override;
  QFuture<QImage> displayImage(const ShareableDisplay& display, const PixelRect& source) final;
  QFuture<QImage> windowImage(const ShareableWindow& window) override;
  std::optional<uint32_t> displayNumber(const QScreen& screen) override;
  uint32_t mainDisplayID() override;
  void synchronize() override;
  QFuture<std::vector<PixelRect>> stillShowing(std::vector<uint32_t> windows) override;
  bool isCompositing() override { return true; }

  // The outputs as Qt sees them now (GUI thread).
  static std::vector<WaylandOutput> outputs();

 protected:
  // The device pixels `source` (origin at the output's top-left) of `output`;
  // `layout` holds every output, for sources that capture the whole desktop.
  // Runs on the GUI thread; the reading must not.
  virtual QFuture<QImage> outputImage(const WaylandOutput& output, const PixelRect& source,
                                      const std::vector<WaylandOutput>& layout) = 0;

 private:
  OutputNumbers numbers_;
};

// The image cut to `source`; a clear error when the output came back smaller.
QImage croppedOutputImage(const QImage& whole, const PixelRect& source);

}  // namespace lumacap
