#pragma once

#include <QPoint>

class QWindow;

namespace lumacap {

// Puts a window not yet shown on wlroots' overlay layer, above every window
// (full-screen ones too), covering its screen's output whole: a layer-shell
// surface made by Qt's own Wayland connection (KDE's LayerShellQt), so the
// window keeps Qt's input handling. `takesKeyboard`: the surface holds the
// keyboard for as long as it is shown; otherwise it gets it when clicked.
// False where Lumacap was built without LayerShellQt (Qt older than 6.5) or
// the window is no Wayland window: the caller then shows it as before.
bool placeOnOverlayLayer(QWindow& window, bool takesKeyboard);

// Puts a window not yet shown on the overlay layer too, but at its own size
// with its top-left corner at `position` of its screen's output (in that
// output's coordinates): a window that stays above all others, full-screen
// ones included, and gets the keyboard when clicked. False as above.
bool placeAboveWindows(QWindow& window, QPoint position);
// Moves a window placeAboveWindows placed to `position` of its output.
void moveAboveWindows(QWindow& window, QPoint position);

// Tells the desktop that a translucent Wayland window now covers its whole
// area opaquely (from its next frame), so the desktop need not paint what is
// below it; nothing for other windows.
void coverOpaquely(QWindow& window);

// Whether placeOnOverlayLayer can work in this build.
bool overlayLayerBuiltIn();

}  // namespace lumacap
