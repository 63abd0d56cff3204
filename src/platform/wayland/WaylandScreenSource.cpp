#include "platform/wayland/WaylandScreenSource.h"

#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <QGuiApplication>
#include <QScreen>
#include <QtConcurrent/QtConcurrent>
#include <algorithm>
#include <cmath>

#include "core/CaptureError.h"
#include "core/ProgramError.h"
#include "platform/ReadyFuture.h"

namespace lumacap {

uint32_t OutputNumbers::numberOf(const std::string& name) {
  const auto known = numbers_.find(name);
  if (known != numbers_.end()) return known->second;
  const auto number = static_cast<uint32_t>(numbers_.size() + 1);
  numbers_.emplace(name, number);
  return number;
}

std::vector<WaylandOutput> WaylandScreenSource::outputs() {
  std::vector<WaylandOutput> result;
  for (const QScreen* screen : QGuiApplication::screens()) {
    result.push_back(
        WaylandOutput{screen->name().toStdString(), screen->geometry(), screen->devicePixelRatio()});
  }
  return result;
}

QFuture<ShareableContent> WaylandScreenSource::shareableContent() {
  ShareableContent content;
  for (const WaylandOutput& output : outputs()) {
    const QRect& frame = output.frame;
    content.displays.push_back(ShareableDisplay{
        numbers_.numberOf(output.name), output.name,
        Rect{double(frame.x()), double(frame.y()), double(frame.width()), double(frame.height())},
        output.scale});
  }
  return readyFuture(std::move(content));
}

QFuture<QImage> WaylandScreenSource::displayImage(const ShareableDisplay& display, const PixelRect& source) {
  const std::vector<WaylandOutput> layout = outputs();
  for (const WaylandOutput& output : layout) {
    if (output.name == display.name) return outputImage(output, source, layout);
  }
  throw CaptureError(CaptureError::Kind::noDisplay);
}

QFuture<QImage> WaylandScreenSource::windowImage(const ShareableWindow&) {
  throw ProgramError(
      "Capturing a single window is not available on Wayland yet. Capture a region or the display instead.");
}

std::optional<uint32_t> WaylandScreenSource::displayNumber(const QScreen& screen) {
  return numbers_.numberOf(screen.name().toStdString());
}

uint32_t WaylandScreenSource::mainDisplayID() {
  const QScreen* primary = QGuiApplication::primaryScreen();
  return primary ? numbers_.numberOf(primary->name().toStdString()) : 0;
}

// A round trip on Qt's own connection, on a queue of ours so that none of
// Qt's events are dispatched here: once it returns, the compositor has
// carried out every request our windows sent (hiding them included).
void WaylandScreenSource::synchronize() {
  QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
  if (!native || QGuiApplication::platformName() != QLatin1String("wayland")) return;
  auto* display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
  if (!display) return;
  wl_event_queue* queue = wl_display_create_queue(display);
  auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
  wl_callback* done = wl_display_sync(wrapper);
  wl_proxy_wrapper_destroy(wrapper);
  bool finished = false;
  static const wl_callback_listener listener{
      [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }};
  wl_callback_add_listener(done, &listener, &finished);
  while (!finished && wl_display_dispatch_queue(display, queue) >= 0) {
  }
  wl_callback_destroy(done);
  wl_event_queue_destroy(queue);
}

// A hidden surface is gone from the compositor's scene once the round trip
// returned; the next frame no longer shows it. The capture manager waits for
// that frame after the last hide, so nothing is left to wait for here.
QFuture<std::vector<PixelRect>> WaylandScreenSource::stillShowing(std::vector<uint32_t>) {
  return readyFuture(std::vector<PixelRect>{});
}

QImage croppedOutputImage(const QImage& whole, const PixelRect& source) {
  const QRect wanted(source.x, source.y, source.width, source.height);
  if (whole.isNull() || !whole.rect().contains(wanted)) throw CaptureError(CaptureError::Kind::noDisplay);
  if (wanted == whole.rect()) return whole;
  return whole.copy(wanted);
}

}  // namespace lumacap
