#include "app/capture/CaptureManager.h"

#include <QApplication>
#include <QCoroFuture>
#include <QCoroSignal>
#include <QCoroTimer>
#include <QCursor>
#include <QException>
#include <QFutureWatcher>
#include <QPainter>
#include <QPromise>
#include <QScreen>
#include <QWidget>
#include <map>

namespace lumacap {
namespace {

// How long a compositor may take to take an unmapped window off the screen.
constexpr auto compositorDelay = std::chrono::milliseconds(50);
// How long an overlay opened before its pictures may take to be on screen before they are asked for.
constexpr auto overlayShowPatience = std::chrono::milliseconds(150);
// How long the desktop may take to say which display is the user's current one.
constexpr auto activeDisplayPatience = std::chrono::milliseconds(500);

// Awaits a platform answer; its error reaches the caller unchanged (the
// worker thread wraps errors that are not Qt exceptions).
template <typename T>
QCoro::Task<T> answerOf(QFuture<T> future) {
  std::exception_ptr error;
  try {
    co_return co_await future;
  } catch (const QUnhandledException& wrapped) {
    error = wrapped.exception();
    if (!error) throw;
  }
  std::rethrow_exception(error);
}

const ShareableDisplay& displayWithID(const ShareableContent& content, uint32_t id) {
  for (const ShareableDisplay& display : content.displays) {
    if (display.displayID == id) return display;
  }
  throw CaptureError(CaptureError::Kind::noDisplay);
}

DisplayTarget targetIn(const ShareableDisplay& display, const std::optional<Rect>& rect) {
  const auto target = geometry::displayTarget(display.frame.width, display.frame.height, display.scale, rect);
  if (!target) throw CaptureError(CaptureError::Kind::invalidRegion);
  return *target;
}

// The image at exactly the size the capture promised.
QImage fitted(QImage image, PixelSize size) {
  if (image.isNull()) throw CaptureError(CaptureError::Kind::noDisplay);
  if (image.width() == size.width && image.height() == size.height) return image;
  return image.scaled(size.width, size.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage cropped(const QImage& image, const PixelRect& source) {
  if (image.isNull()) return image;
  return image.copy(source.x, source.y, source.width, source.height);
}

// Paints over the areas (device pixels of the whole screen) of our own
// windows that were still showing; `origin` is where the image's top-left
// pixel lies on the screen.
void leaveOut(QImage& image, QPoint origin, const std::vector<PixelRect>& areas) {
  if (areas.empty() || image.isNull()) return;
  QPainter painter(&image);
  for (const PixelRect& area : areas) {
    painter.fillRect(area.x - origin.x(), area.y - origin.y(), area.width, area.height, Qt::black);
  }
}

QPoint originOf(const ShareableDisplay& display, const PixelRect& source) {
  const PixelRect frame = geometry::nativeRect(display.frame, display.scale);
  return QPoint(frame.x + source.x, frame.y + source.y);
}

bool insideDisplay(const ShareableDisplay& display, const Rect& rect) {
  return rect.x >= 0 && rect.y >= 0 && rect.right() <= display.frame.width &&
         rect.bottom() <= display.frame.height;
}

// A selection that reaches from `anchor` (the display the drag started on)
// into other displays, cut from each display's frozen pixels.
QImage spanningImage(const ShareableContent& content, const ShareableDisplay& anchor, const Rect& rect,
                     const std::map<uint32_t, QImage>& frozen) {
  const Rect global{anchor.frame.x + rect.x, anchor.frame.y + rect.y, rect.width, rect.height};
  std::vector<Rect> frames;
  std::vector<double> scales;
  for (const ShareableDisplay& display : content.displays) {
    frames.push_back(display.frame);
    scales.push_back(display.scale);
  }
  const SpanLayout layout = geometry::spanLayout(frames, scales, global);
  if (layout.parts.empty() || !geometry::isCapturableRegion(rect))
    throw CaptureError(CaptureError::Kind::invalidRegion);
  QImage image(layout.output.width, layout.output.height, QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  for (const SpanPart& part : layout.parts) {
    const auto pixels = frozen.find(content.displays[part.display].displayID);
    if (pixels == frozen.end() || pixels->second.isNull()) throw CaptureError(CaptureError::Kind::noDisplay);
    QImage source = pixels->second;
    source.setDevicePixelRatio(1);
    const PixelRect& from = part.source;
    const PixelRect& to = part.placement;
    painter.drawImage(QRect(to.x, to.y, to.width, to.height), source,
                      QRect(from.x, from.y, from.width, from.height));
  }
  return image;
}

Rect wholeOf(const ShareableDisplay& display) {
  return Rect{0, 0, display.frame.width, display.frame.height};
}

Rect inGlobalPoints(const ShareableDisplay& display, const Rect& rect) {
  return Rect{display.frame.x + rect.x, display.frame.y + rect.y, rect.width, rect.height};
}

// A capture most of which one window fills is named after that window, like
// a capture of the window; one of the desktop, or of several windows, is not
// named after the application that happened to have the keyboard.
void nameAfterTheWindowFillingIt(CapturedImage& captured, const ShareableContent& content, const Rect& area) {
  const double whole = area.width * area.height;
  const int64_t ownPid = QCoreApplication::applicationPid();
  for (const ShareableWindow& window : content.windows) {  // front-most first
    if (window.layer != 0 || (window.owningApplication && window.owningApplication->pid == ownPid)) continue;
    const Rect shown = window.frame.intersected(area);
    if (whole <= 0 || shown.width * shown.height <= whole / 2) continue;
    captured.windowTitle = window.title;
    if (window.owningApplication) captured.nameFallback = window.owningApplication->applicationName;
    return;
  }
}

}  // namespace

CaptureManager::CaptureManager(ScreenSource& source, QObject* parent) : QObject(parent), source_(source) {
  qApp->installEventFilter(this);
}

CaptureManager::~CaptureManager() = default;

bool CaptureManager::eventFilter(QObject* watched, QEvent* event) {
  const bool shown = event->type() == QEvent::Show;
  // (The tray icon lives inside the tray host's window, which stays.)
  if ((shown || event->type() == QEvent::Hide) && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->isWindow() && !watched->inherits("QSystemTrayIconSys")) {
    const auto id = static_cast<uint32_t>(static_cast<QWidget*>(watched)->internalWinId());
    if (shown) {
      hiddenSinceCapture_.erase(id);
    } else {
      lastHide_ = std::chrono::steady_clock::now();
      if (id) hiddenSinceCapture_.insert(id);
    }
  }
  return false;
}

// Our windows were hidden for the capture by whoever showed them (the
// window presenter); here the server carries out the unmaps and the window
// manager takes the frames down, which a slow one may not do in time: what
// it still shows is given back to be blanked.
QCoro::Task<std::vector<PixelRect>> CaptureManager::awaitOwnWindowsGone() {
  std::vector<uint32_t> nativeWindows(hiddenSinceCapture_.begin(), hiddenSinceCapture_.end());
  hiddenSinceCapture_.clear();
  source_.synchronize();
  const QPointer<CaptureManager> alive(this);
  std::vector<PixelRect> stillShowing = co_await answerOf(source_.stillShowing(std::move(nativeWindows)));
  if (!alive) co_return stillShowing;
  if (source_.isCompositing()) {
    const auto settled = lastHide_ + compositorDelay;
    const auto now = std::chrono::steady_clock::now();
    if (settled > now) co_await QCoro::sleepFor(settled - now);
  }
  co_return stillShowing;
}

QCoro::Task<ShareableContent> CaptureManager::content() {
  // (Not one condition: GCC 12 miscompiles a co_await inside `&&`.)
  if (!source_.canRecordScreen()) {
    const bool granted = co_await answerOf(source_.requestScreenRecording());
    if (!granted) throw CaptureError(CaptureError::Kind::permission);
  }
  co_return co_await answerOf(source_.shareableContent());
}

QCoro::Task<CapturedImage> CaptureManager::display(ShareableContent content, uint32_t id,
                                                   std::optional<Rect> rect,
                                                   std::optional<std::string> application) {
  const ShareableDisplay display = displayWithID(content, id);
  const DisplayTarget target = targetIn(display, rect);
  const std::vector<PixelRect> stillShowing = co_await awaitOwnWindowsGone();
  QImage image = co_await answerOf(source_.displayImage(display, target.source));
  leaveOut(image, originOf(display, target.source), stillShowing);
  CapturedImage captured{fitted(std::move(image), target.output), std::move(application)};
  captured.displayID = id;
  nameAfterTheWindowFillingIt(captured, content, inGlobalPoints(display, rect ? *rect : wholeOf(display)));
  if (!rect && !captured.nameFallback) captured.nameFallback = "display";
  co_return captured;
}

QCoro::Task<CapturedImage> CaptureManager::window(ShareableWindow window) {
  const PixelSize output = geometry::windowOutputSize(window.frame, window.scale);
  // Without a compositor the window is read from the screen, where ours must not be.
  if (!source_.isCompositing()) co_await awaitOwnWindowsGone();
  QImage image = co_await answerOf(source_.windowImage(window));
  std::optional<std::string> application;
  if (window.owningApplication) application = window.owningApplication->applicationName;
  co_return CapturedImage{fitted(std::move(image), output), application, std::move(window.title),
                          application};
}

QCoro::Task<std::optional<CapturedImage>> CaptureManager::windowChosenByDesktop() {
  co_await awaitOwnWindowsGone();
  QImage image = co_await answerOf(source_.windowChosenByDesktop());
  if (image.isNull()) co_return std::nullopt;
  co_return CapturedImage{std::move(image), std::nullopt, std::nullopt};
}

QCoro::Task<std::optional<CapturedImage>> CaptureManager::region(ShareableContent content,
                                                                 std::optional<std::string> application) {
  const std::vector<PixelRect> stillShowing = co_await awaitOwnWindowsGone();

  // Freeze-frame: every screen is read once now; the overlay shows those
  // pixels and the capture is cut from them, so what the user selects is
  // exactly what they get.
  std::vector<std::pair<QPointer<QScreen>, uint32_t>> screens;
  for (QScreen* screen : QGuiApplication::screens()) {
    screens.emplace_back(screen, source_.displayNumber(*screen).value_or(source_.mainDisplayID()));
  }
  // Where the desktop paints the pictures itself, the overlay takes the pointer and the keys at
  // once, showing nothing until they are in: a drag or an Escape meanwhile counts.
  std::optional<QCoro::Task<std::optional<RegionSelection>>> early;
  RegionSelector* opened = nullptr;
  if (source_.overlayMayPrecedePictures()) {
    std::vector<OverlayScreen> bare;
    for (const auto& [screen, id] : screens) {
      if (screen) bare.push_back(OverlayScreen{screen, id, {}});
    }
    early.emplace(selectRegion(std::move(bare), true));
    opened = overlay_.get();
  }
  const QPointer<CaptureManager> alive(this);
  // The pictures are asked for once the overlay is on screen: a desktop busy painting them
  // would map it only afterwards.
  for (const auto shownBy = std::chrono::steady_clock::now() + overlayShowPatience;
       opened && alive && overlay_.get() == opened && !opened->isShown() &&
       std::chrono::steady_clock::now() < shownBy;) {
    co_await QCoro::sleepFor(std::chrono::milliseconds(2));
  }
  if (!alive) co_return std::nullopt;
  // Every display is asked for at once: a desktop that serves them together (KWin renders the
  // whole workspace in one go) need not be asked one after the other.
  struct Asked {
    QFuture<QImage> image;
    QPoint origin;
  };
  std::map<uint32_t, std::optional<Asked>> asked;
  for (const auto& [screen, id] : screens) asked[id];
  source_.expectDisplays(asked.size());
  for (const auto& [screen, id] : screens) {
    std::optional<Asked>& display = asked[id];
    if (display) continue;
    for (const ShareableDisplay& shown : content.displays) {
      if (shown.displayID != id) continue;
      const auto whole = geometry::displayTarget(shown.frame.width, shown.frame.height, shown.scale, {});
      if (whole) display = Asked{source_.displayImage(shown, whole->source), originOf(shown, whole->source)};
      break;
    }
  }
  std::map<uint32_t, QImage> frozen;
  std::exception_ptr failure;
  try {
    for (auto& [id, display] : asked) {
      QImage image;
      if (display) {
        image = co_await answerOf(display->image);
        leaveOut(image, display->origin, stillShowing);
      }
      frozen[id] = std::move(image);
    }
  } catch (...) {
    failure = std::current_exception();
  }
  const bool stillOpen = alive && opened && overlay_.get() == opened;
  if (failure) {
    if (stillOpen) overlay_.reset();  // the overlay that showed nothing closes with the error
    if (early) co_await *early;
    std::rethrow_exception(failure);
  }

  std::optional<RegionSelection> selection;
  if (early) {
    if (stillOpen) opened->showPictures(frozen);
    selection = co_await *early;
  } else if (alive) {
    std::vector<OverlayScreen> overlayScreens;
    for (const auto& [screen, id] : screens) {
      if (screen) overlayScreens.push_back(OverlayScreen{screen, id, frozen[id]});
    }
    selection = co_await selectRegion(std::move(overlayScreens));
  }
  if (!alive || !selection) co_return std::nullopt;  // cancelled, or the manager went away

  const ShareableDisplay display = displayWithID(content, selection->displayID);
  CapturedImage captured{{}, std::move(application)};
  captured.displayID = selection->displayID;
  nameAfterTheWindowFillingIt(captured, content, inGlobalPoints(display, selection->rect));
  if (!insideDisplay(display, selection->rect)) {
    captured.image = spanningImage(content, display, selection->rect, frozen);
    co_return captured;
  }
  lastRegions_[selection->displayID] = selection->rect;
  lastRegionDisplay_ = selection->displayID;
  const DisplayTarget target = targetIn(display, selection->rect);
  QImage image = cropped(frozen[selection->displayID], target.source);
  if (image.isNull()) image = co_await answerOf(source_.displayImage(display, target.source));
  captured.image = fitted(std::move(image), target.output);
  co_return captured;
}

std::optional<std::pair<uint32_t, Rect>> CaptureManager::lastRegion(uint32_t displayID) const {
  if (!lastRegions_.contains(displayID)) {
    if (!lastRegionDisplay_) return std::nullopt;
    displayID = *lastRegionDisplay_;
  }
  return std::pair(displayID, lastRegions_.at(displayID));
}

QCoro::Task<std::optional<RegionSelection>> CaptureManager::selectRegion(std::vector<OverlayScreen> screens,
                                                                         bool picturesToCome) {
  using Answer = std::optional<RegionSelection>;
  auto promise = std::make_shared<QPromise<Answer>>();
  QFuture<Answer> answer = promise->future();
  promise->start();
  // On Wayland the screens form one logical layout: a selection may span them.
  const bool shared = QGuiApplication::platformName() == QLatin1String("wayland");
  auto selector = std::make_unique<RegionSelector>(
      [promise](Answer selection) {
        promise->addResult(selection);
        promise->finish();
      },
      shared);
  selector->colourPicked = colourPicked;
  selector->banner = banner_;
  selector->useOverlayLayer(overlayLayer);
  if (picturesToCome) selector->awaitPictures();
  RegionSelector* mine = selector.get();
  // An earlier overlay that is still up is cancelled, so its capture ends.
  overlay_ = std::move(selector);
  const QPointer<CaptureManager> shown(this);
  const uint32_t current = co_await pointerDisplay();
  if (!shown || overlay_.get() != mine) co_return std::nullopt;  // cancelled meanwhile
  mine->show(screens, current);
  // Where the desktop gives a new window no keyboard by itself, Escape
  // would not reach the overlay until a click (a layer surface takes it).
  if (SelectionWindow* key = mine->keyWindow(); key && key->windowHandle() && !mine->onOverlayLayer()) {
    source_.giveKeyboardTo(*key->windowHandle());
  }
  const QPointer<CaptureManager> alive(this);
  const Answer selection = co_await answer;
  if (alive && overlay_.get() == mine) overlay_.reset();
  co_return selection;
}

QScreen* CaptureManager::screen(uint32_t displayID) const {
  for (QScreen* screen : QGuiApplication::screens()) {
    if (source_.displayNumber(*screen) == displayID) return screen;
  }
  return nullptr;
}

QCoro::Task<uint32_t> CaptureManager::pointerDisplay() const {
  QFuture<std::optional<uint32_t>> active = source_.activeDisplay();
  if (!active.isFinished()) {
    QFutureWatcher<std::optional<uint32_t>> watcher;
    watcher.setFuture(active);
    co_await qCoro(&watcher, &QFutureWatcher<std::optional<uint32_t>>::finished, activeDisplayPatience);
  }
  std::optional<uint32_t> desktops;
  if (active.isFinished() && active.resultCount() > 0) desktops = active.result();
  if (desktops) co_return *desktops;
  co_return displayUnderPointer();
}

uint32_t CaptureManager::displayUnderPointer() const {
  const QList<QScreen*> screens = QGuiApplication::screens();
  std::vector<Rect> frames;
  for (const QScreen* screen : screens) {
    const QRect frame = screen->geometry();
    frames.push_back(Rect{static_cast<double>(frame.x()), static_cast<double>(frame.y()),
                          static_cast<double>(frame.width()), static_cast<double>(frame.height())});
  }
  const QPoint pointer = QCursor::pos();
  QScreen* screen = QGuiApplication::primaryScreen();
  if (const auto index = geometry::frameContaining(frames, Point{double(pointer.x()), double(pointer.y())})) {
    screen = screens[static_cast<qsizetype>(*index)];
  }
  if (!screen) return source_.mainDisplayID();
  return source_.displayNumber(*screen).value_or(source_.mainDisplayID());
}

}  // namespace lumacap
