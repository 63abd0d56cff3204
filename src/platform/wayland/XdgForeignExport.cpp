#include "platform/wayland/XdgForeignExport.h"

#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <QGuiApplication>
#include <QWindow>
#include <cstring>

#include "wayland-generated/xdg-foreign-unstable-v1-client.h"
#include "wayland-generated/xdg-foreign-unstable-v2-client.h"

namespace lumacap {
namespace {

struct Exporters {
  zxdg_exporter_v2* v2 = nullptr;
  zxdg_exporter_v1* v1 = nullptr;
};

void onExporterGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  auto* exporters = static_cast<Exporters*>(data);
  if (std::strcmp(interface, zxdg_exporter_v2_interface.name) == 0) {
    exporters->v2 =
        static_cast<zxdg_exporter_v2*>(wl_registry_bind(registry, name, &zxdg_exporter_v2_interface, 1));
  } else if (std::strcmp(interface, zxdg_exporter_v1_interface.name) == 0) {
    exporters->v1 =
        static_cast<zxdg_exporter_v1*>(wl_registry_bind(registry, name, &zxdg_exporter_v1_interface, 1));
  }
}
void onExporterRemoved(void*, wl_registry*, uint32_t) {}
const wl_registry_listener exporterRegistryListener{onExporterGlobal, onExporterRemoved};

void onHandle(void* data, zxdg_exported_v2*, const char* handle) {
  *static_cast<std::string*>(data) = handle;
}
const zxdg_exported_v2_listener exportedListener{onHandle};
void onHandleV1(void* data, zxdg_exported_v1*, const char* handle) {
  *static_cast<std::string*>(data) = handle;
}
const zxdg_exported_v1_listener exportedListenerV1{onHandleV1};

}  // namespace

// Everything runs on a queue of ours on Qt's connection, so that none of Qt's
// events are dispatched here; the export must be on the connection that owns
// the window's surface.
std::unique_ptr<XdgForeignExport> XdgForeignExport::of(QWindow& window) {
  QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
  if (!native || QGuiApplication::platformName() != QLatin1String("wayland") || !window.isVisible())
    return {};
  auto* display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
  auto* surface = static_cast<wl_surface*>(native->nativeResourceForWindow("surface", &window));
  if (!display || !surface) return {};

  std::unique_ptr<XdgForeignExport> exported(new XdgForeignExport);
  exported->queue_ = wl_display_create_queue(display);
  auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), exported->queue_);
  wl_registry* registry = wl_display_get_registry(wrapper);
  wl_proxy_wrapper_destroy(wrapper);
  Exporters exporters;
  wl_registry_add_listener(registry, &exporterRegistryListener, &exporters);
  wl_display_roundtrip_queue(display, exported->queue_);
  wl_registry_destroy(registry);
  // Version 2 where offered; mutter up to GNOME 44 offers version 1 only.
  if (exporters.v2) {
    if (exporters.v1) zxdg_exporter_v1_destroy(exporters.v1);
    exported->exporter_ = exporters.v2;
    exported->exported_ = zxdg_exporter_v2_export_toplevel(exporters.v2, surface);
    zxdg_exported_v2_add_listener(exported->exported_, &exportedListener, &exported->handle_);
  } else if (exporters.v1) {
    exported->exporterV1_ = exporters.v1;
    exported->exportedV1_ = zxdg_exporter_v1_export(exporters.v1, surface);
    zxdg_exported_v1_add_listener(exported->exportedV1_, &exportedListenerV1, &exported->handle_);
  } else {
    return {};
  }
  // The compositor answers the export with the handle at once.
  wl_display_roundtrip_queue(display, exported->queue_);
  if (exported->handle_.empty()) return {};
  return exported;
}

XdgForeignExport::~XdgForeignExport() {
  if (exported_) zxdg_exported_v2_destroy(exported_);
  if (exporter_) zxdg_exporter_v2_destroy(exporter_);
  if (exportedV1_) zxdg_exported_v1_destroy(exportedV1_);
  if (exporterV1_) zxdg_exporter_v1_destroy(exporterV1_);
  QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
  if (native && queue_) {
    // The destroy requests leave before the queue goes.
    if (auto* display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")))
      wl_display_flush(display);
  }
  if (queue_) wl_event_queue_destroy(queue_);
}

}  // namespace lumacap
