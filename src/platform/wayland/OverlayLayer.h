#pragma once

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

// Whether placeOnOverlayLayer can work in this build.
bool overlayLayerBuiltIn();

}  // namespace lumacap
