#pragma once

#include <QImage>
#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "core/ScreenGeometry.h"

class QScreen;

namespace lumacap {

// The rectangle the user dragged out, in the points of the display it lies
// on (origin at the display's top-left corner, y growing downward). Where
// the selection is shared across displays it may reach beyond that display
// into its neighbours.
struct RegionSelection {
  uint32_t displayID = 0;
  Rect rect;
  bool operator==(const RegionSelection&) const = default;
};

// The drawing surface of one overlay window: the screen as it was when the
// overlay opened, dimmed, with the rectangle being dragged shown undimmed.
// Near the pointer a loupe shows the pixels under it at 8x, with the
// pointed pixel's coordinates and colour. The arrow keys move the pointer a
// point at a time (Shift: ten), so a selection starts and ends exactly; `C`
// hands the pointed colour to `picked` and cancels. The loupe is drawn from
// the frozen pixels and only on this window, which is gone before a capture
// is cut from those pixels: it is never in a capture.
class SelectionView final : public QWidget {
 public:
  using Selected = std::function<void(std::optional<Rect>)>;

  SelectionView(QImage backdrop, QWidget* parent);

  // Until its picture arrives, the view draws nothing at all (its window is
  // transparent) but follows the pointer, drags and keys as usual.
  void awaitPicture();
  bool awaitingPicture() const { return awaitingPicture_; }
  void setPicture(QImage backdrop);

  Selected selected;                   // the finished rectangle, or nothing for a cancel
  std::function<void(QColor)> picked;  // the colour `C` copies, just before the cancel
  // The rectangle being dragged, in global points, for the other screens.
  std::function<void(const Rect&)> moved;

  // Lets a drag reach beyond this view into `reach` (global points), for a
  // selection shared by the windows of all screens; `origin` is where this
  // view's top-left lies in global points.
  void shareSelection(Point origin, Rect reach);
  // Shows the part of another view's selection (global points) that lies here.
  void showSharedSelection(const Rect& global);
  const std::optional<Point>& anchor() const { return anchor_; }
  // A line about the request, shown top centre as plain text (who asked for
  // the capture and why); empty: none. Like the loupe, never in a capture.
  void setBanner(const QString& banner);
  // Another program holds the keyboard, so Escape cannot reach the overlay:
  // its hint says so and offers the right button instead.
  void setKeyboardUnavailable(bool unavailable);
  bool keyboardUnavailable() const { return keyboardUnavailable_; }
  const std::optional<Rect>& selection() const { return selection_; }
  // Whether the arrow keys move the real pointer (X11); where a program may
  // not (Wayland), they move the point this view tracks in its place.
  void setPointerWarps(bool warps) { warps_ = warps; }
  // The pointer as this view tracks it (points), the frozen pixel under it
  // and that pixel's colour, while it is over this view.
  const std::optional<Point>& pointer() const { return pointer_; }
  std::optional<QPoint> pointedPixel() const;
  std::optional<QColor> pointedColour() const;
  // Where the loupe and its label are drawn, while they are.
  std::optional<QRect> loupeArea() const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  Rect bounds() const;
  Rect limits() const;
  void dragTo(Point point);
  void pointAt(std::optional<Point> point);
  void nudge(Point by);
  // Where a press or a release happens: the nudged point until the pointer moves.
  Point eventPoint(const QMouseEvent* event) const;
  void drawLabel(QPainter& painter, const QString& text, Point at);
  // What painting `selection` touches: its frame and, in the view the drag started in, its size
  // label. A drag repaints only what the selection covered and covers, not whole outputs.
  QRegion selectionExtent(const std::optional<Rect>& selection) const;
  // Repaints what changed since the selection was `before`.
  void repaintSelection(const std::optional<Rect>& before);
  void paintBanner(QPainter& painter);
  void paintLoupe(QPainter& painter);

  QImage backdrop_;
  QImage dimmed_;
  bool awaitingPicture_ = false;
  std::optional<Point> anchor_;
  std::optional<Rect> selection_;
  bool keyboardUnavailable_ = false;
  QString banner_;
  Point origin_;
  std::optional<Rect> reach_;  // global points; none: only this view
  std::optional<Point> pointer_;
  bool nudged_ = false;  // the arrow keys moved the pointer since the mouse did
  bool warps_ = true;
};

// A borderless window that covers one screen above everything else and
// takes the keyboard, so that Escape reaches it. Without a picture yet, it
// is transparent until the picture is given to its view.
class SelectionWindow final : public QWidget {
 public:
  SelectionWindow(QScreen* screen, uint32_t displayID, QImage backdrop, bool pictureToCome = false);
  SelectionView* view() const { return view_; }
  uint32_t displayID() const { return displayID_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  SelectionView* view_;
  uint32_t displayID_;
};

// One screen for the overlay: where it is, its display number and its
// pixels when the overlay opened (device pixels; may be null).
struct OverlayScreen {
  QScreen* screen = nullptr;
  uint32_t displayID = 0;
  QImage backdrop;
};

// The region overlay: one selection window per screen. Completes exactly
// once, with the selection or with nothing when the user pressed Escape.
class RegionSelector final {
 public:
  using Completion = std::function<void(std::optional<RegionSelection>)>;

  // With `shared`, one selection spans the windows of all screens (their
  // frames are one logical layout, as on Wayland), and each window fills
  // its screen as a full-screen window of its own.
  explicit RegionSelector(Completion completion, bool shared = false);
  // A selector that goes while it is up cancels the selection.
  ~RegionSelector();
  RegionSelector(const RegionSelector&) = delete;
  RegionSelector& operator=(const RegionSelector&) = delete;

  // The window of `keyDisplay` takes the keys; without one, the window
  // under the mouse pointer (else the first).
  void show(const std::vector<OverlayScreen>& screens, std::optional<uint32_t> keyDisplay = std::nullopt);
  // The overlay opens before the pictures of its screens are in: its windows
  // take the pointer and the keys but show nothing (a selection dragged
  // meanwhile is kept) until showPictures() gives them. Called before show().
  void awaitPictures() { picturesToCome_ = true; }
  // The screens' pictures by display number (device pixels), before or after show().
  void showPictures(std::map<uint32_t, QImage> pictures);
  const std::vector<QPointer<SelectionWindow>>& windows() const { return windows_; }
  SelectionWindow* keyWindow() const { return keyWindow_; }
  // Whether every window is shown and exposed (the desktop has configured it).
  bool isShown() const;
  // The colour `C` copied, as "#rrggbb"; the selection then completes with nothing.
  std::function<void(const QString&)> colourPicked;
  // Shown by the window that takes the keys (see SelectionView::setBanner).
  QString banner;
  // A shared selection's windows as surfaces on the desktop's overlay layer
  // (wlroots), above full-screen windows, the key window holding the
  // keyboard while it is open; where that layer is missing, full-screen windows.
  void useOverlayLayer(bool use) { overlayLayer_ = use; }
  // Whether the windows shown are on that layer.
  bool onOverlayLayer() const { return onOverlayLayer_; }

 private:
  void finish(std::optional<RegionSelection> selection);
  void grabKeyboard(int attemptsLeft);

  std::vector<QPointer<SelectionWindow>> windows_;
  bool picturesToCome_ = false;
  std::optional<std::map<uint32_t, QImage>> pictures_;
  QPointer<SelectionWindow> keyWindow_;
  Completion completion_;
  bool shared_ = false;
  bool overlayLayer_ = false;
  bool onOverlayLayer_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lumacap
