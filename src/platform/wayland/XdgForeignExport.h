#pragma once

#include <memory>
#include <string>

class QWindow;
struct wl_event_queue;
struct zxdg_exporter_v2;
struct zxdg_exported_v2;
struct zxdg_exporter_v1;
struct zxdg_exported_v1;

namespace lumacap {

// One of Lumacap's shown toplevels exported with xdg-foreign
// (zxdg_exporter_v2, else v1) on Qt's own connection, so that another program's
// window, such as a portal's dialog, can be attached to it. The handle stays
// valid while this object lives.
class XdgForeignExport {
 public:
  // Null outside Wayland, when the compositor exports nothing or when the
  // window has no surface.
  static std::unique_ptr<XdgForeignExport> of(QWindow& window);
  ~XdgForeignExport();
  XdgForeignExport(const XdgForeignExport&) = delete;
  XdgForeignExport& operator=(const XdgForeignExport&) = delete;

  const std::string& handle() const { return handle_; }

 private:
  XdgForeignExport() = default;
  wl_event_queue* queue_ = nullptr;
  zxdg_exporter_v2* exporter_ = nullptr;
  zxdg_exported_v2* exported_ = nullptr;
  zxdg_exporter_v1* exporterV1_ = nullptr;
  zxdg_exported_v1* exportedV1_ = nullptr;
  std::string handle_;
};

}  // namespace lumacap
