// The whole layout of the desktop, taken by the desktop's own path and saved as a PNG: the
// harness's reference, taken as the session's user (KWin and the portal look at which program
// asks: a desktop entry names this one to KWin).
//   wayland-reference kwin|portal FILE
// Exits 0 with the file written; 3 printing the portal's answer code when it said no.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QUrl>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

namespace {

class PortalResponse : public QObject {
  Q_OBJECT
 public:
  std::optional<uint> code;
  QVariantMap results;
 public Q_SLOTS:
  void respond(uint response, const QVariantMap& values) {
    code = response;
    results = values;
  }
};

int fail(const QString& why) {
  std::fprintf(stderr, "%s\n", qPrintable(why));
  return 1;
}

// org.kde.KWin.ScreenShot2, its pixels written into a pipe.
int kwin(const QString& file) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return fail("pipe failed");
  QByteArray pixels;
  std::thread reader([&] {
    char chunk[1 << 16];
    for (ssize_t got; (got = ::read(pipe[0], chunk, sizeof chunk)) > 0;) pixels.append(chunk, got);
  });
  QDBusMessage reply;
  {
    // The message holds a duplicate of the pipe's end: it must be gone before the end of the data.
    QDBusMessage message = QDBusMessage::createMethodCall("org.kde.KWin", "/org/kde/KWin/ScreenShot2",
                                                          "org.kde.KWin.ScreenShot2", "CaptureWorkspace");
    message.setArguments({QVariantMap{{"native-resolution", true}, {"include-cursor", false}},
                          QVariant::fromValue(QDBusUnixFileDescriptor(pipe[1]))});
    ::close(pipe[1]);
    reply = QDBusConnection::sessionBus().call(message, QDBus::Block, 20000);
  }
  reader.join();
  if (reply.type() != QDBusMessage::ReplyMessage) return fail("ScreenShot2 failed: " + reply.errorMessage());
  const QVariantMap meta = qdbus_cast<QVariantMap>(reply.arguments().value(0));
  const int width = meta.value("width").toInt(), height = meta.value("height").toInt(),
            stride = meta.value("stride").toInt();
  if (pixels.size() < qsizetype(stride) * height) return fail("ScreenShot2 sent too few bytes");
  const QImage image(reinterpret_cast<const uchar*>(pixels.constData()), width, height, stride,
                     QImage::Format(meta.value("format").toInt()));
  return image.save(file, "PNG", 0) ? 0 : fail("cannot write " + file);
}

// One non-interactive request to the Screenshot portal (the permission is granted).
int portal(const QString& file) {
  QDBusConnection connection = QDBusConnection::sessionBus();
  const QString token = "lumacaptest";
  const QString sender = connection.baseService().mid(1).replace('.', '_');
  const QString path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
  PortalResponse response;
  connection.connect("org.freedesktop.portal.Desktop", path, "org.freedesktop.portal.Request", "Response",
                     &response, SLOT(respond(uint, QVariantMap)));
  QDBusMessage message =
      QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                     "org.freedesktop.portal.Screenshot", "Screenshot");
  message.setArguments({QString(), QVariantMap{{"handle_token", token}, {"interactive", false}}});
  const QDBusMessage reply = connection.call(message, QDBus::Block, 30000);
  if (reply.type() != QDBusMessage::ReplyMessage)
    return fail("the Screenshot portal failed: " + reply.errorMessage());
  QElapsedTimer waited;
  waited.start();
  while (!response.code && waited.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  if (!response.code) return fail("the Screenshot portal did not answer within 30 s");
  if (*response.code != 0u) {
    std::printf("%u\n", *response.code);
    return 3;
  }
  const QString taken = QUrl(response.results.value("uri").toString()).toLocalFile();
  const QImage image(taken);
  QFile::remove(taken);
  if (image.isNull()) return fail("the Screenshot portal's file is no image: " + taken);
  return image.save(file, "PNG", 0) ? 0 : fail("cannot write " + file);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode == "kwin") return kwin(QString::fromLocal8Bit(argv[2]));
  if (mode == "portal") return portal(QString::fromLocal8Bit(argv[2]));
  return fail("usage: wayland-reference kwin|portal FILE");
}

#include "WaylandReference.moc"
