#include "platform/wayland/OverlayLayer.h"

#include <wayland-client.h>

#include <qpa/qplatformnativeinterface.h>
#include <QGuiApplication>
#include <QWindow>

#if LUMACAP_LAYER_SHELL_QT
#include <LayerShellQt/window.h>
#endif

namespace lumacap {

void coverOpaquely(QWindow& window) {
  QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
  if (!native || QGuiApplication::platformName() != QLatin1String("wayland")) return;
  auto* compositor = static_cast<wl_compositor*>(native->nativeResourceForIntegration("compositor"));
  auto* surface = static_cast<wl_surface*>(native->nativeResourceForWindow("surface", &window));
  if (!compositor || !surface) return;
  wl_region* region = wl_compositor_create_region(compositor);
  wl_region_add(region, 0, 0, window.width(), window.height());
  wl_surface_set_opaque_region(surface, region);
  wl_region_destroy(region);
}

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

bool placeAboveWindows(QWindow& window, QPoint position) {
  if (QGuiApplication::platformName() != QLatin1String("wayland")) return false;
  using Layer = LayerShellQt::Window;
  Layer* layer = Layer::get(&window);
  if (!layer) return false;
  layer->setLayer(Layer::LayerOverlay);
  layer->setScope(QStringLiteral("lumacap-pin"));
  layer->setAnchors(Layer::Anchors(Layer::AnchorTop | Layer::AnchorLeft));
  layer->setExclusiveZone(0);
  layer->setKeyboardInteractivity(Layer::KeyboardInteractivityOnDemand);
  moveAboveWindows(window, position);
  return true;
}

void moveAboveWindows(QWindow& window, QPoint position) {
  if (LayerShellQt::Window* layer = LayerShellQt::Window::get(&window))
    layer->setMargins(QMargins(position.x(), position.y(), 0, 0));
}

#else

bool overlayLayerBuiltIn() { return false; }

bool placeOnOverlayLayer(QWindow&, bool) { return false; }

bool placeAboveWindows(QWindow&, QPoint) { return false; }

void moveAboveWindows(QWindow&, QPoint) {}

#endif

}  // namespace lumacap
