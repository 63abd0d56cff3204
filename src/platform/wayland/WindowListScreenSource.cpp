#include "platform/wayland/WindowListScreenSource.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QThread>
#include <QWindow>
#include <QtConcurrent/QtConcurrent>
#include <chrono>

#include "core/CaptureError.h"

namespace lumacap {
namespace {

// How long a raised window may take to be reported active.
constexpr auto raiseDeadline = std::chrono::milliseconds(1500);
// How long a raised window must stay in one place before it is cut from the screen.
constexpr auto settleTime = std::chrono::milliseconds(250);
// How long a window just shown may take to be listed by the compositor.
constexpr auto listedDeadline = std::chrono::milliseconds(2000);

Point centreOf(const Rect& frame) { return Point{frame.x + frame.width / 2, frame.y + frame.height / 2}; }

}  // namespace

// The compositor's handles by window number, for the chooser's windows.
struct WindowListScreenSource::Shared {
  std::shared_ptr<CompositorWindowList> list;
  std::mutex mutex;
  std::map<std::string, uint32_t> numbers;

  uint32_t numberOf(const std::string& handle) {
    const std::lock_guard lock(mutex);
    return numbers.try_emplace(handle, static_cast<uint32_t>(numbers.size() + 1)).first->second;
  }
  std::optional<std::string> handleOf(uint32_t number) {
    const std::lock_guard lock(mutex);
    for (const auto& [handle, each] : numbers)
      if (each == number) return handle;
    return std::nullopt;
  }
  // The window as the compositor lists it now; an error when it is gone.
  CompositorWindow current(const std::string& handle) {
    for (CompositorWindow& window : list->windows())
      if (window.handle == handle) return window;
    throw CaptureError(CaptureError::Kind::noDisplay);
  }
  // Raises the window and waits until the compositor reports it active and
  // in the same place for a while: a tiling compositor lays its windows out
  // again when ours leave the screen, and reports the new place at once, but
  // shows it only once the windows have drawn themselves at their new sizes
  // (sway waits up to 200 ms for them).
  CompositorWindow raised(CompositorWindow window) {
    if (!window.active && !list->activate(window)) throw CaptureError(CaptureError::Kind::noDisplay);
    const auto start = std::chrono::steady_clock::now();
    auto placedAt = start;
    std::optional<Rect> lastFrame;
    for (auto now = start; now < start + raiseDeadline; now = std::chrono::steady_clock::now()) {
      window = current(window.handle);
      if (lastFrame != window.frame) placedAt = now;
      if (window.active && now - placedAt >= settleTime) return window;
      lastFrame = window.frame;
      QThread::msleep(30);
    }
    return window;
  }
  // Waits until the compositor lists this process's window (by its title,
  // over `point`) and activates it unless it has the focus already.
  void focusOwn(const std::string& title, Point point) {
    const auto pid = static_cast<int32_t>(QCoreApplication::applicationPid());
    const auto deadline = std::chrono::steady_clock::now() + listedDeadline;
    while (std::chrono::steady_clock::now() < deadline) {
      for (const CompositorWindow& window : list->windows()) {
        if (window.pid != pid || window.title != title || !window.frame.contains(point)) continue;
        if (!window.active) list->activate(window);
        return;
      }
      QThread::msleep(20);
    }
  }
};

WindowListScreenSource::WindowListScreenSource(std::unique_ptr<ScreenSource> screens,
                                               std::shared_ptr<CompositorWindowList> windows)
    : screens_(std::move(screens)), shared_(std::make_shared<Shared>()) {
  shared_->list = std::move(windows);
}

WindowListScreenSource::~WindowListScreenSource() = default;

std::optional<std::pair<ShareableDisplay, PixelRect>> WindowListScreenSource::windowArea(
    const std::vector<ShareableDisplay>& displays, const Rect& frame) {
  std::vector<Rect> frames;
  for (const ShareableDisplay& display : displays) frames.push_back(display.frame);
  const auto index = geometry::frameContaining(frames, centreOf(frame));
  if (!index) return std::nullopt;
  const ShareableDisplay& display = displays[*index];
  const auto target = geometry::displayTarget(
      display.frame.width, display.frame.height, display.scale,
      Rect{frame.x - display.frame.x, frame.y - display.frame.y, frame.width, frame.height});
  if (!target) return std::nullopt;
  return std::pair{display, target->source};
}

QFuture<ShareableContent> WindowListScreenSource::shareableContent() {
  QFuture<ShareableContent> displays = screens_->shareableContent();
  return QtConcurrent::run([shared = shared_, displays]() mutable {
    ShareableContent content = displays.result();
    for (const CompositorWindow& listed : shared->list->windows()) {
      if (!listed.visible || listed.frame.isEmpty()) continue;
      ShareableWindow window;
      window.windowID = shared->numberOf(listed.handle);
      if (!listed.title.empty()) window.title = listed.title;
      window.frame = listed.frame;
      if (listed.pid > 0) window.owningApplication = OwningApplication{listed.pid, listed.appClass};
      if (const auto area = windowArea(content.displays, listed.frame)) window.scale = area->first.scale;
      content.windows.push_back(std::move(window));
    }
    return content;
  });
}

QFuture<QImage> WindowListScreenSource::windowImage(const ShareableWindow& window) {
  const std::optional<std::string> handle = shared_->handleOf(window.windowID);
  if (!handle) throw CaptureError(CaptureError::Kind::noDisplay);
  ScreenSource* screens = screens_.get();
  return QtConcurrent::run([shared = shared_, screens, handle = *handle] {
    CompositorWindow target = shared->current(handle);
    if (std::optional<QImage> alone = shared->list->windowImage(target)) return *alone;
    target = shared->raised(std::move(target));
    // The displays and their pixels are asked for on the GUI thread.
    QFuture<QImage> pixels;
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
          try {
            const auto area = windowArea(screens->shareableContent().result().displays, target.frame);
            if (!area) throw CaptureError(CaptureError::Kind::noDisplay);
            // The raised window is a new moment: no screenshot taken before it serves.
            screens->synchronize();
            pixels = screens->displayImage(area->first, area->second);
          } catch (...) {
            failure = std::current_exception();
          }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
    return pixels.result();
  });
}

void WindowListScreenSource::giveKeyboardTo(const QWindow& window) {
  const QRect frame = window.geometry();
  const Point centre =
      centreOf(Rect{double(frame.x()), double(frame.y()), double(frame.width()), double(frame.height())});
  (void)QtConcurrent::run([shared = shared_, title = window.title().toStdString(), centre] {
    try {
      shared->focusOwn(title, centre);
    } catch (const std::exception&) {
      // Without an answer the window stays as the desktop placed it; a click focuses it.
    }
  });
}

// The screens' numbers are read here, on the GUI thread; the compositor is asked on a worker.
QFuture<std::optional<uint32_t>> WindowListScreenSource::activeDisplay() {
  std::vector<std::pair<std::string, uint32_t>> numbers;
  for (QScreen* screen : QGuiApplication::screens()) {
    if (const std::optional<uint32_t> number = screens_->displayNumber(*screen))
      numbers.emplace_back(screen->name().toStdString(), *number);
  }
  return QtConcurrent::run([list = shared_->list, numbers]() -> std::optional<uint32_t> {
    std::optional<std::string> name;
    try {
      name = list->activeOutputName();
    } catch (const std::exception&) {
      return std::nullopt;  // the pointer's position decides
    }
    for (const auto& [screen, number] : numbers)
      if (name == screen) return number;
    return std::nullopt;
  });
}

}  // namespace lumacap
