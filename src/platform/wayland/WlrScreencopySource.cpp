#include "platform/wayland/WlrScreencopySource.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QtConcurrent/QtConcurrent>
#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "core/CaptureError.h"
#include "platform/wayland/ScreencopyImage.h"
#include "wayland-generated/wlr-screencopy-unstable-v1-client.h"

namespace lumacap {
namespace {

using Clock = std::chrono::steady_clock;
// How long the compositor may take to hand over one frame.
constexpr auto frameDeadline = std::chrono::seconds(5);

struct ScreencopyOutput {
  uint32_t globalName = 0;
  wl_output* output = nullptr;
  std::string name;
  QPoint position;
};

struct Frame {
  ScreencopyBuffer buffer;
  bool hasShmBuffer = false;
  bool buffersDone = false;
  bool ready = false;
  bool failed = false;
};

const wl_output_listener screencopyOutputListener{
    .geometry = [](void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*,
                   const char*, int32_t) { static_cast<ScreencopyOutput*>(data)->position = QPoint(x, y); },
    .mode = [](void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {},
    .done = [](void*, wl_output*) {},
    .scale = [](void*, wl_output*, int32_t) {},
    .name = [](void* data, wl_output*, const char* name) { static_cast<ScreencopyOutput*>(data)->name = name; },
    .description = [](void*, wl_output*, const char*) {},
};

const zwlr_screencopy_frame_v1_listener frameListener{
    .buffer =
        [](void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width, uint32_t height,
           uint32_t stride) {
          auto* frame = static_cast<Frame*>(data);
          // The first readable format offered wins.
          if (frame->hasShmBuffer && isReadableScreencopyFormat(frame->buffer.format)) return;
          frame->buffer.format = format;
          frame->buffer.width = int(width);
          frame->buffer.height = int(height);
          frame->buffer.stride = int(stride);
          frame->hasShmBuffer = true;
        },
    .flags =
        [](void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
          static_cast<Frame*>(data)->buffer.yInverted =
              (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
        },
    .ready = [](void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t,
                uint32_t) { static_cast<Frame*>(data)->ready = true; },
    .failed = [](void* data, zwlr_screencopy_frame_v1*) { static_cast<Frame*>(data)->failed = true; },
    .damage = [](void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {},
    .linux_dmabuf = [](void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {},
    .buffer_done = [](void* data,
                      zwlr_screencopy_frame_v1*) { static_cast<Frame*>(data)->buffersDone = true; },
};

[[noreturn]] void connectionLost() { throw CaptureError(CaptureError::Kind::compositorGone); }

}  // namespace

struct WlrScreencopySource::Connection {
  std::mutex mutex;  // one capture at a time on this connection
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_shm* shm = nullptr;
  zwlr_screencopy_manager_v1* manager = nullptr;
  uint32_t managerVersion = 0;
  std::vector<std::unique_ptr<ScreencopyOutput>> outputs;

  ~Connection() {
    for (const auto& output : outputs) wl_output_destroy(output->output);
    if (manager) zwlr_screencopy_manager_v1_destroy(manager);
    if (shm) wl_shm_destroy(shm);
    if (registry) wl_registry_destroy(registry);
    if (display) wl_display_disconnect(display);
  }

  void open();
  template <typename Condition>
  void dispatchUntil(Condition condition);
  const ScreencopyOutput& outputNamed(const WaylandOutput& wanted);
  QImage capture(const WaylandOutput& wanted);
};

namespace {

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
  auto* connection = static_cast<WlrScreencopySource::Connection*>(data);
  if (std::strcmp(interface, wl_shm_interface.name) == 0) {
    connection->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0) {
    connection->managerVersion = std::min(version, 3u);
    connection->manager = static_cast<zwlr_screencopy_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface, connection->managerVersion));
  } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
    auto output = std::make_unique<ScreencopyOutput>();
    output->globalName = name;
    output->output = static_cast<wl_output*>(
        wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 4u)));
    wl_output_add_listener(output->output, &screencopyOutputListener, output.get());
    connection->outputs.push_back(std::move(output));
  }
}

void onGlobalRemoved(void* data, wl_registry*, uint32_t name) {
  auto& outputs = static_cast<WlrScreencopySource::Connection*>(data)->outputs;
  std::erase_if(outputs, [name](const std::unique_ptr<ScreencopyOutput>& output) {
    if (output->globalName != name) return false;
    wl_output_destroy(output->output);
    return true;
  });
}

const wl_registry_listener screencopyRegistryListener{onGlobal, onGlobalRemoved};

}  // namespace

void WlrScreencopySource::Connection::open() {
  if (display) return;
  display = wl_display_connect(nullptr);
  if (!display) throw CaptureError(CaptureError::Kind::noDisplay);
  registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &screencopyRegistryListener, this);
  // Globals, then the outputs' names and positions.
  if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0) connectionLost();
  if (!manager || !shm) {
    throw std::runtime_error("This Wayland compositor does not offer wlroots screen capture (screencopy).");
  }
}

// Dispatches events until the condition holds, for a few seconds at most.
template <typename Condition>
void WlrScreencopySource::Connection::dispatchUntil(Condition condition) {
  const auto deadline = Clock::now() + frameDeadline;
  while (!condition()) {
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) connectionLost();
    }
    wl_display_flush(display);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd descriptor{wl_display_get_fd(display), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&descriptor, 1, int(left.count())) <= 0) {
      wl_display_cancel_read(display);
      throw CaptureError(CaptureError::Kind::compositorNoAnswer);
    }
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) connectionLost();
  }
}

// The output by name; by position where the compositor does not name its
// outputs (wl_output before version 4).
const ScreencopyOutput& WlrScreencopySource::Connection::outputNamed(const WaylandOutput& wanted) {
  if (wl_display_roundtrip(display) < 0) connectionLost();  // outputs that came or went
  for (const auto& output : outputs) {
    if (output->name == wanted.name) return *output;
  }
  for (const auto& output : outputs) {
    if (output->name.empty() && output->position == wanted.frame.topLeft()) return *output;
  }
  throw CaptureError(CaptureError::Kind::noDisplay);
}

QImage WlrScreencopySource::Connection::capture(const WaylandOutput& wanted) {
  const std::lock_guard lock(mutex);
  open();
  const ScreencopyOutput& output = outputNamed(wanted);
  Frame frame;
  zwlr_screencopy_frame_v1* copy = zwlr_screencopy_manager_v1_capture_output(manager, 0, output.output);
  zwlr_screencopy_frame_v1_add_listener(copy, &frameListener, &frame);
  struct Resources {
    zwlr_screencopy_frame_v1* frame;
    wl_buffer* buffer = nullptr;
    void* pixels = MAP_FAILED;
    size_t size = 0;
    ~Resources() {
      if (buffer) wl_buffer_destroy(buffer);
      if (pixels != MAP_FAILED) ::munmap(pixels, size);
      zwlr_screencopy_frame_v1_destroy(frame);
    }
  } resources{copy};
  // Version 3 lists every buffer kind before buffer_done; older ones send
  // the shared-memory buffer alone.
  const bool listsBuffers = managerVersion >= 3;
  dispatchUntil([&] { return frame.failed || (frame.hasShmBuffer && (!listsBuffers || frame.buffersDone)); });
  if (frame.failed) throw CaptureError(CaptureError::Kind::compositorRefused);
  const ScreencopyBuffer& layout = frame.buffer;
  if (!isReadableScreencopyFormat(layout.format)) return screencopyImage(layout, nullptr);  // throws

  resources.size = size_t(layout.stride) * size_t(layout.height);
  const int file = ::memfd_create("lumacap-screencopy", MFD_CLOEXEC);
  if (file < 0 || ::ftruncate(file, off_t(resources.size)) != 0) {
    if (file >= 0) ::close(file);
    throw std::runtime_error("No memory for the screen image.");
  }
  resources.pixels = ::mmap(nullptr, resources.size, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
  wl_shm_pool* pool = wl_shm_create_pool(shm, file, int32_t(resources.size));
  ::close(file);
  if (resources.pixels == MAP_FAILED) {
    wl_shm_pool_destroy(pool);
    throw std::runtime_error("No memory for the screen image.");
  }
  resources.buffer =
      wl_shm_pool_create_buffer(pool, 0, layout.width, layout.height, layout.stride, layout.format);
  wl_shm_pool_destroy(pool);
  zwlr_screencopy_frame_v1_copy(copy, resources.buffer);
  dispatchUntil([&] { return frame.ready || frame.failed; });
  if (frame.failed) throw CaptureError(CaptureError::Kind::compositorRefused);
  return screencopyImage(frame.buffer, static_cast<const uchar*>(resources.pixels));
}

WlrScreencopySource::WlrScreencopySource() : connection_(std::make_shared<Connection>()) {}

WlrScreencopySource::~WlrScreencopySource() = default;

QFuture<QImage> WlrScreencopySource::outputImage(const WaylandOutput& output, const PixelRect& source,
                                                 const std::vector<WaylandOutput>&) {
  return QtConcurrent::run([connection = connection_, output, source] {
    return croppedOutputImage(connection->capture(output), source);
  });
}

}  // namespace lumacap
