#include "platform/fake/FakeScreenSource.h"

#include <QtConcurrent/QtConcurrent>

#include "platform/ReadyFuture.h"

namespace lumacap {
namespace {

// Answers from a worker thread, like the real service.
template <typename T>
QFuture<T> answer(std::function<T()> work) {
  return QtConcurrent::run(std::move(work));
}

}  // namespace

QFuture<bool> FakeScreenSource::requestScreenRecording() {
  ++requests;
  if (grantsRequest) mayRecord = true;
  return readyFuture(grantsRequest);
}

QFuture<ShareableContent> FakeScreenSource::shareableContent() {
  ++contentQueries;
  return answer<ShareableContent>([content = content, error = contentError] {
    if (error) std::rethrow_exception(error);
    return content;
  });
}

QFuture<QImage> FakeScreenSource::displayImage(const ShareableDisplay& display, const PixelRect& source) {
  if (beforeImage) beforeImage();
  displayReads.push_back(source);
  QImage desktop;
  if (const auto found = desktops.find(display.displayID); found != desktops.end()) {
    desktop = found->second;
  } else {
    const PixelRect native = geometry::nativeRect(display.frame, display.scale);
    desktop = QImage(native.width, native.height, QImage::Format_RGB32);
    desktop.fill(Qt::gray);
  }
  if (holdImages) {
    auto promise = std::make_shared<QPromise<QImage>>();
    promise->start();
    held_.emplace_back(promise, desktop.copy(source.x, source.y, source.width, source.height));
    return promise->future();
  }
  return answer<QImage>([desktop, source, error = imageError] {
    if (error) std::rethrow_exception(error);
    return desktop.copy(source.x, source.y, source.width, source.height);
  });
}

void FakeScreenSource::deliverHeldImages() {
  for (auto& [promise, image] : std::exchange(held_, {})) {
    if (imageError) {
      promise->setException(imageError);
    } else {
      promise->addResult(image);
    }
    promise->finish();
  }
}

QFuture<QImage> FakeScreenSource::windowImage(const ShareableWindow& window) {
  if (beforeImage) beforeImage();
  QImage image;
  if (const auto found = windowImages.find(window.windowID); found != windowImages.end())
    image = found->second;
  return answer<QImage>([image, error = imageError] {
    if (error) std::rethrow_exception(error);
    return image;
  });
}

std::optional<uint32_t> FakeScreenSource::displayNumber(const QScreen& screen) {
  if (const auto found = screenNumbers.find(screen.name().toStdString()); found != screenNumbers.end()) {
    return found->second;
  }
  return anyScreenNumber;
}

QFuture<std::vector<PixelRect>> FakeScreenSource::stillShowing(std::vector<uint32_t> windows) {
  hiddenWindows.insert(hiddenWindows.end(), windows.begin(), windows.end());
  return answer<std::vector<PixelRect>>([showing = showingAfterHide] { return showing; });
}

}  // namespace lumacap
