#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/ProcessSource.h"
#include "platform/ScreenSource.h"

namespace lumacap {

// The screen-capture service of an X11 desktop.
//
// Displays are the RandR monitors (display number: the id of the monitor's
// first output; a monitor without outputs, such as one made with
// `xrandr --setmonitor … none`, is numbered by its name atom with the top
// bit set, which no X resource id can have). Windows come from
// _NET_CLIENT_LIST_STACKING, front-most first. Pixels are read on a
// connection of our own, off the GUI thread: through shared memory (MIT-SHM)
// where the server offers it, else with GetImage over the socket.
//
// X11 lets every client read the screen, so permission is granted whenever
// an X display can be reached, and refused when there is none.
class X11ScreenSource final : public ScreenSource {
 public:
  enum class ImageTransport { sharedMemory, socket };

  // Connects to `display`, or to $DISPLAY when it is empty. `processes`
  // names the application of a window that has no class. Images come through
  // shared memory unless `transport` says otherwise or the server cannot.
  explicit X11ScreenSource(ProcessSource& processes, std::string display = {},
                           ImageTransport transport = ImageTransport::sharedMemory);
  ~X11ScreenSource() override;

  bool canRecordScreen() override;
  QFuture<bool> requestScreenRecording() override;
  QFuture<ShareableContent> shareableContent() override;
  QFuture<QImage> displayImage(const ShareableDisplay& display, const PixelRect& source) override;
  QFuture<QImage> windowImage(const ShareableWindow& window) override;
  std::optional<uint32_t> displayNumber(const QScreen& screen) override;
  uint32_t mainDisplayID() override;
  void synchronize() override;
  QFuture<std::vector<PixelRect>> stillShowing(std::vector<uint32_t> windows) override;
  bool isCompositing() override;
  // Whether images come through shared memory (until the server refuses it).
  bool usesSharedMemory() const;

  struct Connection;

 private:
  std::shared_ptr<Connection> connection_;
  ProcessSource& processes_;
};

// Window titles in the encodings X11 clients use for WM_NAME.
std::string latin1ToUtf8(std::string_view text);
std::string compoundTextToUtf8(std::string_view text);

}  // namespace lumacap
