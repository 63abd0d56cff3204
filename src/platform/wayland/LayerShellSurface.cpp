#include "platform/wayland/LayerShellSurface.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "platform/wayland/WaylandConnection.h"
// The protocol names a request argument `namespace`, a C++ keyword.
#define namespace layer_namespace
#include "wayland-generated/wlr-layer-shell-unstable-v1-client.h"
#undef namespace
#include "wayland-generated/xdg-activation-v1-client.h"

namespace lumacap {

struct LayerShellSurface::Output {
  wl_output* output = nullptr;
  QString name;
  int scale = 1;
};

namespace {

using Output = LayerShellSurface::Output;

void outputGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*,
                    int32_t) {}
void outputMode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
void outputDone(void*, wl_output*) {}
void outputScale(void* data, wl_output*, int32_t factor) {
  static_cast<Output*>(data)->scale = std::max(1, factor);
}
void outputName(void* data, wl_output*, const char* name) {
  static_cast<Output*>(data)->name = QString::fromUtf8(name);
}
void outputDescription(void*, wl_output*, const char*) {}

const wl_output_listener outputListener{outputGeometry, outputMode, outputDone,
                                        outputScale,    outputName, outputDescription};

// A buffer of its own for each frame, freed once the compositor released it.
void bufferRelease(void*, wl_buffer* buffer) { wl_buffer_destroy(buffer); }
const wl_buffer_listener bufferListener{bufferRelease};

}  // namespace

std::unique_ptr<LayerShellSurface> LayerShellSurface::create(std::shared_ptr<WaylandConnection> connection) {
  if (!connection || !connection->offers(zwlr_layer_shell_v1_interface.name)) return nullptr;
  auto* compositor = static_cast<wl_compositor*>(connection->bind(wl_compositor_interface, 4));
  auto* shm = static_cast<wl_shm*>(connection->bind(wl_shm_interface, 1));
  auto* shell = static_cast<zwlr_layer_shell_v1*>(connection->bind(zwlr_layer_shell_v1_interface, 1));
  if (!compositor || !shm || !shell) {
    if (compositor) wl_compositor_destroy(compositor);
    if (shm) wl_shm_destroy(shm);
    if (shell) zwlr_layer_shell_v1_destroy(shell);
    return nullptr;
  }
  return std::unique_ptr<LayerShellSurface>(
      new LayerShellSurface(std::move(connection), compositor, shm, shell));
}

LayerShellSurface::LayerShellSurface(std::shared_ptr<WaylandConnection> connection, wl_compositor* compositor,
                                     wl_shm* shm, zwlr_layer_shell_v1* shell)
    : connection_(std::move(connection)), compositor_(compositor), shm_(shm), shell_(shell) {
  for (const WaylandConnection::Global& global : connection_->globals(wl_output_interface.name)) {
    auto output = std::make_unique<Output>();
    output->output = static_cast<wl_output*>(connection_->bind(global, wl_output_interface, 4));
    wl_output_add_listener(output->output, &outputListener, output.get());
    outputs_.push_back(std::move(output));
  }
  static const wl_seat_listener seatListener{&LayerShellSurface::seatCapabilities,
                                             [](void*, wl_seat*, const char*) {}};
  activation_ = static_cast<xdg_activation_v1*>(connection_->bind(xdg_activation_v1_interface, 1));
  seat_ = static_cast<wl_seat*>(connection_->bind(wl_seat_interface, 2));
  if (seat_) wl_seat_add_listener(seat_, &seatListener, this);
  connection_->roundtrip();
}

LayerShellSurface::~LayerShellSurface() {
  hide();
  if (pendingToken_) xdg_activation_token_v1_destroy(pendingToken_);
  if (activation_) xdg_activation_v1_destroy(activation_);
  if (pointer_) wl_pointer_destroy(pointer_);
  if (seat_) wl_seat_destroy(seat_);
  for (const auto& output : outputs_) wl_output_destroy(output->output);
  zwlr_layer_shell_v1_destroy(shell_);
  wl_shm_destroy(shm_);
  wl_compositor_destroy(compositor_);
  connection_->flush();
}

LayerShellSurface::Output* LayerShellSurface::outputNamed(const QString& name) {
  for (const auto& output : outputs_) {
    if (output->name == name) return output.get();
  }
  return nullptr;
}

void LayerShellSurface::show(const QString& output, QSize size, QMargins margins, Painter painter) {
  hide();
  painter_ = std::move(painter);
  size_ = size;
  Output* on = outputNamed(output);
  scale_ = on ? on->scale : 1;
  static const zwlr_layer_surface_v1_listener layerListener{&LayerShellSurface::layerConfigure,
                                                            &LayerShellSurface::layerClosed};
  surface_ = wl_compositor_create_surface(compositor_);
  layer_ = zwlr_layer_shell_v1_get_layer_surface(shell_, surface_, on ? on->output : nullptr,
                                                 ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "lumacap-card");
  zwlr_layer_surface_v1_add_listener(layer_, &layerListener, this);
  zwlr_layer_surface_v1_set_size(layer_, static_cast<uint32_t>(size.width()),
                                 static_cast<uint32_t>(size.height()));
  zwlr_layer_surface_v1_set_anchor(layer_,
                                   ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
  zwlr_layer_surface_v1_set_margin(layer_, margins.top(), margins.right(), margins.bottom(), margins.left());
  zwlr_layer_surface_v1_set_keyboard_interactivity(layer_, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
  wl_surface_commit(surface_);  // no buffer yet: asks for the first configure
  connection_->flush();
}

void LayerShellSurface::hide() {
  if (layer_) zwlr_layer_surface_v1_destroy(layer_);
  if (surface_) wl_surface_destroy(surface_);
  layer_ = nullptr;
  surface_ = nullptr;
  configured_ = false;
  if (pointerInside_) {
    pointerInside_ = false;
    if (hovered) hovered(false);
  }
  connection_->flush();
}

void LayerShellSurface::redraw() {
  if (configured_) attachBuffer();
}

void LayerShellSurface::configured(uint32_t serial, uint32_t width, uint32_t height) {
  zwlr_layer_surface_v1_ack_configure(layer_, serial);
  if (width > 0 && height > 0) size_ = QSize(static_cast<int>(width), static_cast<int>(height));
  configured_ = true;
  attachBuffer();
}

void LayerShellSurface::attachBuffer() {
  const QSize pixels = size_ * scale_;
  const int stride = pixels.width() * 4;
  const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(pixels.height());
  const int fd = memfd_create("lumacap-card", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes)) < 0) {
    if (fd >= 0) close(fd);
    return;
  }
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) {
    close(fd);
    return;
  }
  {
    // ARGB8888 in the compositor's words is Qt's premultiplied ARGB32 on
    // little-endian machines.
    QImage canvas(static_cast<uchar*>(memory), pixels.width(), pixels.height(), stride,
                  QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    canvas.setDevicePixelRatio(scale_);
    if (painter_) painter_(canvas);
  }
  wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, static_cast<int32_t>(bytes));
  wl_buffer* buffer =
      wl_shm_pool_create_buffer(pool, 0, pixels.width(), pixels.height(), stride, WL_SHM_FORMAT_ARGB8888);
  wl_buffer_add_listener(buffer, &bufferListener, nullptr);
  wl_shm_pool_destroy(pool);
  munmap(memory, bytes);
  close(fd);

  wl_surface_set_buffer_scale(surface_, scale_);
  wl_surface_attach(surface_, buffer, 0, 0);
  wl_surface_damage(surface_, 0, 0, size_.width(), size_.height());
  wl_surface_commit(surface_);
  connection_->flush();
}

void LayerShellSurface::layerConfigure(void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t width,
                                       uint32_t height) {
  static_cast<LayerShellSurface*>(data)->configured(serial, width, height);
}

// The compositor took the surface away (its output went): it is hidden.
void LayerShellSurface::layerClosed(void* data, zwlr_layer_surface_v1*) {
  static_cast<LayerShellSurface*>(data)->hide();
}

void LayerShellSurface::seatCapabilities(void* data, wl_seat* seat, uint32_t capabilities) {
  auto& self = *static_cast<LayerShellSurface*>(data);
  const bool hasPointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
  if (hasPointer && !self.pointer_) {
    // Bound at version 2: the events of later versions never come (and later
    // libwayland releases add members for them, left empty here).
    static const wl_pointer_listener pointerListener = [] {
      wl_pointer_listener listener{};
      listener.enter = &LayerShellSurface::pointerEnter;
      listener.leave = &LayerShellSurface::pointerLeave;
      listener.motion = &LayerShellSurface::pointerMotion;
      listener.button = &LayerShellSurface::pointerButton;
      listener.axis = &LayerShellSurface::pointerAxis;
      return listener;
    }();
    self.pointer_ = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(self.pointer_, &pointerListener, &self);
  } else if (!hasPointer && self.pointer_) {
    wl_pointer_destroy(self.pointer_);
    self.pointer_ = nullptr;
  }
}

void LayerShellSurface::pointerEnter(void* data, wl_pointer*, uint32_t, wl_surface* surface, int32_t x,
                                     int32_t y) {
  auto& self = *static_cast<LayerShellSurface*>(data);
  if (!surface || surface != self.surface_) return;
  self.pointerInside_ = true;
  self.pointerPosition_ = QPoint(wl_fixed_to_int(x), wl_fixed_to_int(y));
  if (self.hovered) self.hovered(true);
}

void LayerShellSurface::pointerLeave(void* data, wl_pointer*, uint32_t, wl_surface* surface) {
  auto& self = *static_cast<LayerShellSurface*>(data);
  if (!self.pointerInside_ || (surface && surface != self.surface_)) return;
  self.pointerInside_ = false;
  if (self.hovered) self.hovered(false);
}

void LayerShellSurface::pointerMotion(void* data, wl_pointer*, uint32_t, int32_t x, int32_t y) {
  auto& self = *static_cast<LayerShellSurface*>(data);
  if (self.pointerInside_) self.pointerPosition_ = QPoint(wl_fixed_to_int(x), wl_fixed_to_int(y));
}

void LayerShellSurface::pointerButton(void* data, wl_pointer*, uint32_t serial, uint32_t, uint32_t button,
                                      uint32_t state) {
  auto& self = *static_cast<LayerShellSurface*>(data);
  if (!self.pointerInside_ || button != BTN_LEFT || state != WL_POINTER_BUTTON_STATE_RELEASED) return;
  if (self.activation_ && self.surface_) {
    self.requestActivationToken(serial, self.pointerPosition_);
  } else if (self.clicked) {
    self.clicked(self.pointerPosition_, {});
  }
}

// The surface never takes the focus, so a window opened from it could not
// take it either without a token that names the click.
void LayerShellSurface::requestActivationToken(uint32_t serial, QPoint at) {
  static const xdg_activation_token_v1_listener listener{&LayerShellSurface::activationTokenDone};
  if (pendingToken_) xdg_activation_token_v1_destroy(pendingToken_);
  pendingToken_ = xdg_activation_v1_get_activation_token(activation_);
  pendingClick_ = at;
  xdg_activation_token_v1_add_listener(pendingToken_, &listener, this);
  xdg_activation_token_v1_set_serial(pendingToken_, serial, seat_);
  xdg_activation_token_v1_set_surface(pendingToken_, surface_);
  xdg_activation_token_v1_commit(pendingToken_);
  connection_->flush();
}

void LayerShellSurface::activationTokenDone(void* data, xdg_activation_token_v1* token, const char* text) {
  auto& self = *static_cast<LayerShellSurface*>(data);
  xdg_activation_token_v1_destroy(token);  // the pending one: a newer click destroyed any other
  self.pendingToken_ = nullptr;
  if (self.clicked) self.clicked(self.pendingClick_, QString::fromUtf8(text));
}

}  // namespace lumacap
