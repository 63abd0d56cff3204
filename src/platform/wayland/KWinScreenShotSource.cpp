#include "platform/wayland/KWinScreenShotSource.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusUnixFileDescriptor>
#include <QtConcurrent/QtConcurrent>
#include <cstdio>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>

#include "core/CaptureError.h"
#include "core/DesktopBackend.h"
#include "platform/linux/DBusCall.h"
#include "platform/wayland/PortalScreenshotSource.h"

namespace lumacap {
namespace {

const QString screenShotPath = QStringLiteral("/org/kde/KWin/ScreenShot2");
const QString screenShotInterface = QStringLiteral("org.kde.KWin.ScreenShot2");

QByteArray readToEnd(int file) {
  QByteArray data;
  char chunk[1 << 16];
  for (;;) {
    const ssize_t count = ::read(file, chunk, sizeof chunk);
    if (count > 0) {
      data.append(chunk, count);
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(file);
  return data;
}

// A call of KWin's screenshot interface writing to `writeEnd`, which the message holds a copy of.
QDBusMessage screenShot2Call(const QString& method, const QVariantList& arguments, int writeEnd) {
  QDBusMessage call =
      QDBusMessage::createMethodCall(kwinService, screenShotPath, screenShotInterface, method);
  for (const QVariant& argument : arguments) call << argument;
  call << QVariant::fromValue(QDBusUnixFileDescriptor(writeEnd));
  return call;
}

// What KWin said of its answer, and whether it refuses this program the interface.
std::string reason(const QDBusMessage& reply) {
  return reply.errorName().toStdString() + ": " + reply.errorMessage().toStdString();
}
bool notAuthorized(const QDBusMessage& reply) {
  return reply.type() == QDBusMessage::ErrorMessage &&
         reply.errorName().endsWith(QLatin1String("NoAuthorized"));
}

}  // namespace

QImage kwinScreenShot2(const QString& method, const QVariantList& arguments) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0)
    throw std::runtime_error("Lumacap could not open a pipe for the screen image.");
  // Read while KWin writes: the image does not fit in the pipe's buffer.
  std::future<QByteArray> pixels = std::async(std::launch::async, readToEnd, pipe[0]);
  QDBusMessage reply;
  {
    const QDBusMessage call = screenShot2Call(method, arguments, pipe[1]);
    ::close(pipe[1]);
    reply = DBusCall::waited(QDBusConnection::sessionBus(), call, DBusCall::screenImage);
    // Our copies of the write end go with the call, so the reader sees the end.
  }
  if (reply.type() == QDBusMessage::ErrorMessage) {
    // KWin keeps no copy of the pipe when it refuses: the reader ends.
    pixels.wait();
    const std::string why = reason(reply);
    if (notAuthorized(reply)) throw KWinNotAuthorized(why);
    std::fprintf(stderr, "lumacap: KWin could not capture the screen (%s).\n", why.c_str());
    throw CaptureError(CaptureError::Kind::compositorRefused);
  }
  const QVariantMap results = qdbus_cast<QVariantMap>(reply.arguments().value(0));
  return kwinRawImage(results, pixels.get());
}

namespace {

const QVariantMap shotOptions{{QStringLiteral("native-resolution"), true},
                              {QStringLiteral("include-cursor"), false}};

QImage captureScreen(const QString& outputName) {
  return kwinScreenShot2(QStringLiteral("CaptureScreen"), {outputName, shotOptions});
}

}  // namespace

QImage kwinRawImage(const QVariantMap& results, const QByteArray& pixels) {
  const int width = results.value(QStringLiteral("width")).toInt();
  const int height = results.value(QStringLiteral("height")).toInt();
  const int stride = results.value(QStringLiteral("stride")).toInt();
  const auto format = static_cast<QImage::Format>(results.value(QStringLiteral("format")).toInt());
  const QString type = results.value(QStringLiteral("type"), QStringLiteral("raw")).toString();
  if (type != QLatin1String("raw") || width <= 0 || height <= 0 || stride < width ||
      format <= QImage::Format_Invalid || format >= QImage::NImageFormats ||
      qsizetype(stride) * height > pixels.size()) {
    throw CaptureError(CaptureError::Kind::kwinImageUnreadable);
  }
  const QImage view(reinterpret_cast<const uchar*>(pixels.constData()), width, height, stride, format);
  if (view.bytesPerLine() > stride) throw CaptureError(CaptureError::Kind::kwinImageUnreadable);
  // The screen is opaque; a copy that owns its pixels.
  QImage image = view.convertToFormat(QImage::Format_RGB32);
  return image.constBits() == view.constBits() ? view.copy() : image;
}

namespace {

// Why KWin refuses this program its interface, if it does: asked with a capture of an output no
// one has, which KWin refuses before it looks for the output.
std::optional<std::string> kwinRefusal() {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return std::nullopt;
  const QDBusMessage call =
      screenShot2Call(QStringLiteral("CaptureScreen"), {QString(), QVariantMap()}, pipe[1]);
  ::close(pipe[1]);
  const QDBusMessage reply = DBusCall::waited(QDBusConnection::sessionBus(), call, DBusCall::screenImage);
  ::close(pipe[0]);
  if (!notAuthorized(reply)) return std::nullopt;
  return reason(reply);
}

}  // namespace

// The whole workspace, taken once for the outputs one capture asks for together: KWin paints
// them in one go, where one CaptureScreen after the other paints and hands over each in turn.
struct KWinScreenShotSource::Workspace {
  std::mutex taking;
  std::optional<QImage> image;    // once taken
  std::set<std::string> outputs;  // those asked of it (GUI thread)
};

struct KWinScreenShotSource::Shared {
  std::atomic<bool> refused = false;  // by a capture: the portal takes the next ones
  std::atomic<bool> said = false;

  void say(const std::string& why) {
    if (!said.exchange(true))
      std::fprintf(stderr, "lumacap: %s (%s)\n", kwinScreenShotRefusedText, why.c_str());
  }

  QImage capture(const WaylandOutput& output, const PixelRect& source,
                 const std::vector<WaylandOutput>& layout, Workspace* workspace) {
    if (!refused) {
      try {
        if (workspace) {
          const std::lock_guard lock(workspace->taking);
          if (!workspace->image)
            workspace->image = kwinScreenShot2(QStringLiteral("CaptureWorkspace"), {shotOptions});
          return outputPartOf(*workspace->image, layout, output, source);
        }
        return croppedOutputImage(captureScreen(QString::fromStdString(output.name)), source);
      } catch (const KWinNotAuthorized& failure) {
        refused = true;
        say(failure.what());
      }
    }
    return outputPartOf(takePortalScreenshot(QDBusConnection::sessionBus()), layout, output, source);
  }
};

KWinScreenShotSource::KWinScreenShotSource() : shared_(std::make_shared<Shared>()) {}

KWinScreenShotSource::~KWinScreenShotSource() = default;

void KWinScreenShotSource::synchronize() {
  WaylandScreenSource::synchronize();
  portalShots_.newCapture();
  workspace_.reset();
}

void KWinScreenShotSource::expectDisplays(size_t count) {
  workspace_ = count > 1 ? std::make_shared<Workspace>() : nullptr;
}

bool KWinScreenShotSource::overlayMayPrecedePictures() { return !shared_->refused; }

QFuture<std::optional<std::string>> KWinScreenShotSource::captureLimit() {
  return QtConcurrent::run([shared = shared_]() -> std::optional<std::string> {
    // (A refusal here is not kept: KWin may read the desktop entries again before a capture.)
    if (const auto why = shared->refused ? std::optional<std::string>("") : kwinRefusal()) {
      if (!why->empty()) shared->say(*why);
      return kwinScreenShotRefusedLimit;
    }
    return std::nullopt;
  });
}

QFuture<QImage> KWinScreenShotSource::outputImage(const WaylandOutput& output, const PixelRect& source,
                                                  const std::vector<WaylandOutput>& layout) {
  if (shared_->refused) return portalShots_.outputImage(output, source, layout);
  // An output asked for again is a capture of its own.
  if (workspace_ && !workspace_->outputs.insert(output.name).second) workspace_.reset();
  return QtConcurrent::run([shared = shared_, workspace = workspace_, output, source, layout] {
    return shared->capture(output, source, layout, workspace.get());
  });
}

}  // namespace lumacap
