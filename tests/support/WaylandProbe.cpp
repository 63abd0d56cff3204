// A Wayland client for the desktop harness's own tests: one full-screen window per output that
// reports on standard output when it is shown and what input reaches it, in global coordinates:
//   shown SCREEN | press X Y | release X Y | key NAME | token TOKEN | no token
// A press also earns an activation token, as a launcher clicked would hand one to what it starts.
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <cstring>

#include "wayland-generated/xdg-activation-v1-client.h"

namespace {

void say(const QString& line) {
  std::printf("%s\n", qPrintable(line));
  std::fflush(stdout);
}

// Its own seat and pointer on a queue of its own on Qt's connection, for the serial of a press.
struct Activation {
  wl_display* display = nullptr;
  wl_event_queue* queue = nullptr;
  wl_seat* seat = nullptr;
  wl_pointer* pointer = nullptr;
  xdg_activation_v1* activation = nullptr;
  uint32_t pressSerial = 0;
  std::string token;

  Activation() {
    display = static_cast<wl_display*>(
        QGuiApplication::platformNativeInterface()->nativeResourceForIntegration("wl_display"));
    if (!display) return;
    queue = wl_display_create_queue(display);
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
    static const wl_registry_listener registryListener{
        [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
          auto* self = static_cast<Activation*>(data);
          if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat)
            self->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 2));
          if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0)
            self->activation = static_cast<xdg_activation_v1*>(
                wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
        },
        [](void*, wl_registry*, uint32_t) {}};
    wl_registry_add_listener(wl_display_get_registry(wrapper), &registryListener, this);
    wl_proxy_wrapper_destroy(wrapper);
    wl_display_roundtrip_queue(display, queue);
    if (!seat) return;
    // A pointer only once the seat offers one (wlroots ends a client that asks a seat without).
    static const wl_seat_listener seatListener{
        [](void* data, wl_seat* seat, uint32_t capabilities) {
          auto* self = static_cast<Activation*>(data);
          if (self->pointer || !(capabilities & WL_SEAT_CAPABILITY_POINTER)) return;
          static const wl_pointer_listener pointerListener = [] {
            wl_pointer_listener listener{};
            listener.enter = [](void*, wl_pointer*, uint32_t, wl_surface*, wl_fixed_t, wl_fixed_t) {};
            listener.leave = [](void*, wl_pointer*, uint32_t, wl_surface*) {};
            listener.motion = [](void*, wl_pointer*, uint32_t, wl_fixed_t, wl_fixed_t) {};
            listener.button = [](void* data, wl_pointer*, uint32_t serial, uint32_t, uint32_t,
                                 uint32_t state) {
              if (state == WL_POINTER_BUTTON_STATE_PRESSED)
                static_cast<Activation*>(data)->pressSerial = serial;
            };
            listener.axis = [](void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {};
            return listener;
          }();
          self->pointer = wl_seat_get_pointer(seat);
          wl_pointer_add_listener(self->pointer, &pointerListener, self);
        },
        [](void*, wl_seat*, const char*) {}};
    wl_seat_add_listener(seat, &seatListener, this);
    wl_display_roundtrip_queue(display, queue);
  }

  // A token for the press that reached `window`, made with that press's serial.
  std::string tokenFor(QWindow* window) {
    if (!activation) return {};
    wl_display_roundtrip_queue(display, queue);  // the press reached our pointer too
    if (!pointer) return {};
    auto* surface = static_cast<wl_surface*>(
        QGuiApplication::platformNativeInterface()->nativeResourceForWindow("surface", window));
    xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(activation);
    static const xdg_activation_token_v1_listener listener{
        [](void* data, xdg_activation_token_v1*, const char* text) {
          static_cast<Activation*>(data)->token = text;
        }};
    xdg_activation_token_v1_add_listener(request, &listener, this);
    xdg_activation_token_v1_set_serial(request, pressSerial, seat);
    if (surface) xdg_activation_token_v1_set_surface(request, surface);
    xdg_activation_token_v1_commit(request);
    token.clear();
    wl_display_roundtrip_queue(display, queue);
    xdg_activation_token_v1_destroy(request);
    return token;
  }
};

class OutputWindow : public QWidget {
 public:
  OutputWindow(QScreen* screen, Activation& activation) : screen_(screen), activation_(activation) {
    winId();  // the platform window exists, so its screen can be chosen before it is mapped
    windowHandle()->setScreen(screen);
    setGeometry(screen->geometry());
    showFullScreen();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).fillRect(rect(), QColor(40, 90, 160));
    if (!shown_) say("shown " + screen_->name());
    shown_ = true;
  }
  void mousePressEvent(QMouseEvent* event) override {
    report("press", event);
    const std::string token = activation_.tokenFor(windowHandle());
    say(token.empty() ? QString("no token") : QString("token %1").arg(QString::fromStdString(token)));
  }
  void mouseReleaseEvent(QMouseEvent* event) override { report("release", event); }
  void keyPressEvent(QKeyEvent* event) override { say("key " + QKeySequence(event->key()).toString()); }

 private:
  void report(const char* what, QMouseEvent* event) {
    const QPoint at = event->globalPosition().toPoint();
    say(QString("%1 %2 %3").arg(what).arg(at.x()).arg(at.y()));
  }
  QScreen* screen_;
  Activation& activation_;
  bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  Activation activation;
  std::vector<std::unique_ptr<OutputWindow>> windows;
  for (QScreen* screen : QGuiApplication::screens())
    windows.push_back(std::make_unique<OutputWindow>(screen, activation));
  return application.exec();
}
