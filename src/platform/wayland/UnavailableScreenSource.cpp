#include "platform/wayland/UnavailableScreenSource.h"

#include <QException>
#include <QFuture>

#include "core/CaptureError.h"
#include "platform/ReadyFuture.h"

namespace lumacap {
namespace {

template <typename T>
QFuture<T> refused() {
  return QtFuture::makeExceptionalFuture<T>(
      std::make_exception_ptr(CaptureError(CaptureError::Kind::notOnThisDesktop)));
}

}  // namespace

QFuture<ShareableContent> UnavailableScreenSource::shareableContent() { return refused<ShareableContent>(); }
QFuture<QImage> UnavailableScreenSource::displayImage(const ShareableDisplay&, const PixelRect&) {
  return refused<QImage>();
}
QFuture<QImage> UnavailableScreenSource::windowImage(const ShareableWindow&) { return refused<QImage>(); }
QFuture<std::vector<PixelRect>> UnavailableScreenSource::stillShowing(std::vector<uint32_t>) {
  return readyFuture(std::vector<PixelRect>{});
}

}  // namespace lumacap
