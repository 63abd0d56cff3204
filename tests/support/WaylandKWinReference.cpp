// The whole layout of a KWin session through org.kde.KWin.ScreenShot2, saved as a PNG: the
// harness's reference, taken as the session's user by a program KWin's entry names.
//   kwin-reference FILE
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QImage>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  int pipe[2];
  if (argc != 2 || ::pipe2(pipe, O_CLOEXEC) != 0) return 2;
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
  if (reply.type() != QDBusMessage::ReplyMessage) {
    std::fprintf(stderr, "ScreenShot2 failed: %s\n", qPrintable(reply.errorMessage()));
    return 1;
  }
  const QVariantMap meta = qdbus_cast<QVariantMap>(reply.arguments().value(0));
  const int width = meta.value("width").toInt(), height = meta.value("height").toInt(),
            stride = meta.value("stride").toInt();
  if (pixels.size() < qsizetype(stride) * height) return 1;
  const QImage image(reinterpret_cast<const uchar*>(pixels.constData()), width, height, stride,
                     QImage::Format(meta.value("format").toInt()));
  return image.save(QString::fromLocal8Bit(argv[1]), "PNG", 0) ? 0 : 1;
}
