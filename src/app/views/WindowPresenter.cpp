#include "app/views/WindowPresenter.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "app/capture/CaptureManager.h"
#include "app/model/AppModel.h"
#include "app/views/HistoryView.h"
#include "app/views/PreferencesView.h"
#include "app/views/QuickCaptureView.h"
#include "app/views/ScreenshotPreview.h"
#include "app/views/Symbols.h"
#include "app/views/WindowChooser.h"
#include "app/views/markup/MarkupWindow.h"

namespace lumacap {
namespace {

constexpr int quickCaptureMargin = 20;  // from the right and bottom of the screen's free area

QScreen* screenUnderPointer() {
  QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  return screen ? screen : QGuiApplication::primaryScreen();
}

void centre(QWidget& window) {
  QScreen* screen = screenUnderPointer();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  window.move(area.center() - QPoint(window.width() / 2, window.height() / 2));
}

// A top-level window of ours with its title and its smallest (and first) size.
template <typename Window>
std::unique_ptr<Window> makeWindow(std::unique_ptr<Window> window, const char* title, QSize size) {
  window->setWindowTitle(QString::fromUtf8(title));
  window->setMinimumSize(size);
  window->resize(size);
  centre(*window);
  return window;
}

// A dialog keeps the width it was made for: a tiling compositor (sway) floats
// a window of fixed width, centred, where a tile would stretch it or cut it.
void keepWidth(QWidget& window) { window.setFixedWidth(window.width()); }

// A window that is already on the screen is mapped anew, unless the request
// lent a token of the user's input (a shortcut's, a launcher's) for it to
// present: desktops give the keyboard to a window that appears, while they
// refuse to activate one that is open without such a token (KWin, GNOME) or a
// time newer than the user's last (X11), which a start from a shell cannot
// hand over. Whether Qt believes the window has the keyboard does not count:
// it learns that another window took it only once it has read the desktop's
// word, which may come after the request (a start from a shell just after a
// click elsewhere). (One just shown again, not yet on the screen, is left to
// appear.)
void bringForward(QWidget& window) {
  const QWindow* handle = window.windowHandle();
  const bool onWayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
  const bool lentToken = onWayland && !qEnvironmentVariableIsEmpty("XDG_ACTIVATION_TOKEN");
  if (window.isVisible() && handle && handle->isExposed() && !lentToken) {
    const QPoint position = window.pos();
    window.hide();
    window.move(position);
  }
  window.show();
  window.raise();
  window.activateWindow();  // (Qt's Wayland window presents the lent token and clears it)
}

void orderOut(QWidget* window) {
  if (window) window->hide();
}

bool isShown(const QWidget* window) { return window && window->isVisible(); }

}  // namespace

WindowPresenter::WindowPresenter(CaptureManager& captureManager) : captureManager_(captureManager) {}

WindowPresenter::~WindowPresenter() = default;

void WindowPresenter::attach(AppModel& model, ViewContext& context) {
  model_ = &model;
  context_ = &context;
}

AppModel& WindowPresenter::model() const {
  Q_ASSERT(model_);
  return *model_;
}

QWidget* WindowPresenter::quickWindow() const { return quickWindow_.get(); }
QWidget* WindowPresenter::previewWindow() const { return previewWindow_.get(); }

void WindowPresenter::showQuickCapture(uint32_t displayID) {
  if (!quickWindow_) {
    quickWindow_ = std::make_unique<CaptureReceiptPanel>(model(), captureManager_.isCompositing());
  }
  QScreen* screen = captureManager_.screen(displayID);
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    const QRect area = screen->availableGeometry();
    quickWindow_->move(area.x() + area.width() - quickCaptureMargin - quickWindow_->width(),
                       area.y() + area.height() - quickCaptureMargin - quickWindow_->height());
  }
  quickWindow_->show();
  quickWindow_->raise();
}

void WindowPresenter::hideQuickCapture() { orderOut(quickWindow()); }

void WindowPresenter::showPreview() {
  if (!previewWindow_) {
    previewWindow_ = std::make_unique<ScreenshotPreview>(model(), *context_);
    previewWindow_->setWindowTitle(QStringLiteral("Lumacap"));
    centre(*previewWindow_);
    previewWindow_->installEventFilter(this);
  }
  bringForward(*previewWindow_);
}

void WindowPresenter::hidePreview() { orderOut(previewWindow()); }

bool WindowPresenter::previewShown() const { return isShown(previewWindow()); }

// A window that is open on the capture in hand keeps its items; any other
// capture starts over.
void WindowPresenter::showMarkup(const std::vector<Rect>& redactions) {
  if (!markupWindow_) {
    markupWindow_ = std::make_unique<MarkupWindow>();
    markupWindow_->onApply = [model = QPointer<AppModel>(&model())](QImage flattened,
                                                                    const MarkupModel& markup) {
      if (model) model->applyMarkup(std::move(flattened), markup);
    };
    markupWindow_->installEventFilter(this);
  }
  const QImage& image = model().image();
  if (!markupWindow_->isVisible() || markupWindow_->image().cacheKey() != image.cacheKey()) {
    markupWindow_->begin(image);
    if (QScreen* screen = screenUnderPointer()) markupWindow_->place(screen->availableGeometry());
  }
  markupWindow_->addRedactions(redactions);
  bringForward(*markupWindow_);
}

void WindowPresenter::hideMarkup() {
  // A mark-up window a capture took away stays away: its capture has left.
  if (const auto hidden = hiddenForCapture_.lock()) {
    std::erase_if(hidden->windows,
                  [this](const HiddenWindow& entry) { return entry.window == markupWindow_.get(); });
  }
  orderOut(markupWindow_.get());
}

void WindowPresenter::showHistory() {
  if (!historyWindow_) {
    historyWindow_ =
        makeWindow(std::make_unique<HistoryView>(model(), *context_), "Recent Captures", QSize(720, 520));
    // As tall as its rows want, within the screen with room for a title bar.
    if (QScreen* screen = screenUnderPointer()) {
      const QRect area = screen->availableGeometry();
      const int height = std::min(historyWindow_->sizeHint().height(), area.height() - look::titleBarRoom);
      historyWindow_->resize(historyWindow_->width(), std::max(height, historyWindow_->minimumHeight()));
      centre(*historyWindow_);
    }
  }
  bringForward(*historyWindow_);
}

void WindowPresenter::showSettings() {
  if (!preferencesWindow_) {
    preferencesWindow_ = makeWindow(std::make_unique<PreferencesView>(model(), *context_), "Lumacap Settings",
                                    QSize(550, 560));
    keepWidth(*preferencesWindow_);
  }
  bringForward(*preferencesWindow_);
}

void WindowPresenter::showWindowChooser(std::vector<ShareableWindow> windows) {
  if (!chooserWindow_) {
    auto chooser = std::make_unique<WindowChooser>(
        [model = QPointer<AppModel>(&model())](const ShareableWindow& window) {
          if (model) model->captureWindow(window);
        },
        captureManager_.isCompositing());
    chooserWindow_ = makeWindow(std::move(chooser), "Capture a Window", QSize(510, 480));
    keepWidth(*chooserWindow_);
  }
  static_cast<WindowChooser&>(*chooserWindow_).setWindows(std::move(windows));
  bringForward(*chooserWindow_);
}

void WindowPresenter::hideWindowChooser() { orderOut(chooserWindow()); }

void WindowPresenter::hideForPasting() {
  orderOut(previewWindow());
  orderOut(historyWindow());
  orderOut(preferencesWindow());
}

// Every window of ours, those this presenter made and any other (a dialog,
// an alert); the tray icon lives inside the tray host's window and stays.
HiddenForCapture WindowPresenter::hideForCapture() {
  auto hidden = std::make_shared<Hidden>();
  QWidget* focused = QApplication::activeWindow();
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isWindow() || !window->isVisible() || window->inherits("QSystemTrayIconSys")) continue;
    hidden->windows.push_back(HiddenWindow{window, window->pos()});
    if (window == focused) hidden->focused = window;
    window->hide();
  }
  hiddenForCapture_ = hidden;
  const bool preview =
      std::any_of(hidden->windows.begin(), hidden->windows.end(),
                  [this](const HiddenWindow& entry) { return entry.window == previewWindow(); });
  return HiddenForCapture([self = QPointer<WindowPresenter>(this),
                           hidden](Restore options) { return self && self->restore(*hidden, options); },
                          preview);
}

bool WindowPresenter::restore(Hidden& hidden, Restore options) const {
  for (const HiddenWindow& entry : std::exchange(hidden.windows, {})) {
    if (!entry.window || entry.window->isVisible()) continue;
    if (entry.window == quickWindow() && !options.card) continue;
    entry.window->move(entry.position);
    entry.window->show();
  }
  const QPointer<QWidget> focused = std::exchange(hidden.focused, nullptr);
  if (!options.focus || !focused || !focused->isVisible()) return false;
  focused->raise();
  focused->activateWindow();
  return true;
}

bool WindowPresenter::eventFilter(QObject* watched, QEvent* event) {
  // Once the mark-up is applied or dropped, the preview has the keyboard again.
  if (watched == markupWindow_.get() && event->type() == QEvent::Hide && previewShown()) {
    previewWindow_->raise();
    previewWindow_->activateWindow();
  }
  return false;
}

}  // namespace lumacap
