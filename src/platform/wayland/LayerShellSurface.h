#pragma once

#include <QImage>
#include <QMargins>
#include <QPoint>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

struct wl_buffer;
struct wl_compositor;
struct wl_output;
struct wl_pointer;
struct wl_seat;
struct wl_shm;
struct wl_surface;
struct xdg_activation_token_v1;
struct xdg_activation_v1;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace lumacap {

class WaylandConnection;

// A small surface in a corner of one output, above the windows, that never
// takes the keyboard: wlroots' layer-shell on Lumacap's own connection (Qt
// 6.4 cannot give its own windows that role). Its pixels come from a painter
// into a shared-memory buffer at the output's scale; it reports the pointer
// entering, leaving and clicking it.
class LayerShellSurface final {
 public:
  // Draws the surface's contents into `canvas` (logical size, device pixel
  // ratio the output's scale).
  using Painter = std::function<void(QImage& canvas)>;

  // Null when the compositor has no layer-shell, compositor or shm.
  static std::unique_ptr<LayerShellSurface> create(std::shared_ptr<WaylandConnection> connection);
  ~LayerShellSurface();
  LayerShellSurface(const LayerShellSurface&) = delete;
  LayerShellSurface& operator=(const LayerShellSurface&) = delete;

  // Shows the surface at the bottom-right of the output named `output` (the
  // compositor's choice when none has that name), `margins` from its edges.
  void show(const QString& output, QSize size, QMargins margins, Painter painter);
  // Draws the contents again.
  void redraw();
  void hide();
  bool shown() const { return layer_ != nullptr; }
  // The scale of the output the surface was last shown on.
  int scale() const { return scale_; }

  std::function<void(bool inside)> hovered;
  // A click at `at` (logical coordinates of the surface), with the activation
  // token the compositor gave for it, so that a window the click opens may
  // take the focus; empty where the compositor gives none.
  std::function<void(QPoint at, const QString& activationToken)> clicked;

  struct Output;

 private:
  LayerShellSurface(std::shared_ptr<WaylandConnection> connection, wl_compositor* compositor, wl_shm* shm,
                    zwlr_layer_shell_v1* shell);
  void configured(uint32_t serial, uint32_t width, uint32_t height);
  void attachBuffer();
  void requestActivationToken(uint32_t serial, QPoint at);
  static void activationTokenDone(void* data, xdg_activation_token_v1* token, const char* text);
  Output* outputNamed(const QString& name);

  static void layerConfigure(void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t width,
                             uint32_t height);
  static void layerClosed(void* data, zwlr_layer_surface_v1*);
  static void seatCapabilities(void* data, wl_seat* seat, uint32_t capabilities);
  static void pointerEnter(void* data, wl_pointer*, uint32_t, wl_surface* surface, int32_t x, int32_t y);
  static void pointerLeave(void* data, wl_pointer*, uint32_t, wl_surface* surface);
  static void pointerMotion(void* data, wl_pointer*, uint32_t, int32_t x, int32_t y);
  static void pointerButton(void* data, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state);
  static void pointerAxis(void*, wl_pointer*, uint32_t, uint32_t, int32_t) {}

  std::shared_ptr<WaylandConnection> connection_;
  wl_compositor* compositor_;
  wl_shm* shm_;
  zwlr_layer_shell_v1* shell_;
  wl_seat* seat_ = nullptr;
  wl_pointer* pointer_ = nullptr;
  xdg_activation_v1* activation_ = nullptr;
  // The click waiting for its activation token.
  xdg_activation_token_v1* pendingToken_ = nullptr;
  QPoint pendingClick_;
  std::vector<std::unique_ptr<Output>> outputs_;

  wl_surface* surface_ = nullptr;
  zwlr_layer_surface_v1* layer_ = nullptr;
  bool configured_ = false;
  bool pointerInside_ = false;
  QPoint pointerPosition_;
  QSize size_;
  int scale_ = 1;
  Painter painter_;
};

}  // namespace lumacap
