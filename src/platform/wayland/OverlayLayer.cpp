#include "platform/wayland/OverlayLayer.h"

#include <QGuiApplication>
#include <QWindow>

#if LUMACAP_LAYER_SHELL_QT
#include <LayerShellQt/window.h>
#endif

namespace lumacap {

#if LUMACAP_LAYER_SHELL_QT

bool overlayLayerBuiltIn() { return true; }

bool placeOnOverlayLayer(QWindow& window, bool takesKeyboard) {
  if (QGuiApplication::platformName() != QLatin1String("wayland")) return false;
  using Layer = LayerShellQt::Window;
  Layer* layer = Layer::get(&window);
  if (!layer) return false;
  layer->setLayer(Layer::LayerOverlay);
  layer->setScope(QStringLiteral("lumacap-overlay"));
  layer->setAnchors(
      Layer::Anchors(Layer::AnchorTop | Layer::AnchorBottom | Layer::AnchorLeft | Layer::AnchorRight));
  layer->setExclusiveZone(-1);  // over panels too, not beside them
  layer->setKeyboardInteractivity(takesKeyboard ? Layer::KeyboardInteractivityExclusive
                                                : Layer::KeyboardInteractivityOnDemand);
  return true;
}

#else

bool overlayLayerBuiltIn() { return false; }

bool placeOnOverlayLayer(QWindow&, bool) { return false; }

#endif

}  // namespace lumacap
