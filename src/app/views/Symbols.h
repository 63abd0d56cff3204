#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <initializer_list>

class QWidget;

namespace lumacap {

// The small pictograms of the windows. Each comes from the desktop's icon
// theme when it has one, else from the picture bundled with Lumacap, drawn in
// the given colour.
enum class Symbol {
  camera,
  checkmark,
  checkmarkCircle,
  ellipsis,
  paperclip,
  pencil,
  photo,
  plus,
  returnKey,
  saveToDisk,
  viewfinder,  // the tray icon, in its own colours
  viewfinderOutline,
  window,
  xmark,
};

QIcon symbolIcon(Symbol symbol, const QColor& color);

// The colours and type of the windows, after the desktop's palette.
namespace look {
// The text colour at `opacity`, for quiet fills and outlines.
QColor primary(const QWidget& widget, double opacity);
// Secondary text: the text colour toned down.
QColor secondary(const QWidget& widget);
QColor warning();  // orange, for errors shown in place
// The WCAG 2 contrast ratio of two opaque colours: 1 (none) to 21 (black on white).
double contrast(const QColor& a, const QColor& b);
// The warning orange, darkened (or, on a dark background, lightened) only as
// far as it needs to read at 4.5:1 (WCAG AA) on every one of `backgrounds`.
QColor warning(std::initializer_list<QColor> backgrounds);
// A font of `pixels` height and `weight`, from the widget's own font.
QFont font(const QWidget& widget, int pixels, QFont::Weight weight = QFont::Normal);
void setTextColor(QWidget& widget, const QColor& color);
// A quiet one-pixel horizontal rule.
QWidget* divider(QWidget* parent);
// The platform's "nothing here" placeholder: a large quiet symbol, a title
// and, when given, a description, centred in the space it is given.
QWidget* contentUnavailable(QWidget* parent, Symbol symbol, const QString& title,
                            const QString& description = {});
// Where an image of `image` size is drawn in `area`: as large as fits, keeping
// its proportions, centred, the rest left empty. A very wide or very tall
// image still gets a band a few pixels thick, so it never vanishes.
QRectF letterboxed(const QSizeF& image, const QRectF& area);
// The height a window leaves free on its screen for a title bar whose size the window system does
// not tell (Wayland's server-side decorations, a window not yet framed on X11): a window as tall
// as the screen would open with its title bar above the screen's top.
inline constexpr int titleBarRoom = 64;
}  // namespace look

}  // namespace lumacap
