#pragma once

#include <QByteArray>
#include <QFuture>
#include <QImage>
#include <QString>
#include <filesystem>

class QThreadPool;

namespace lumacap {

// A capture file read back from the capture folder.
struct LoadedCapture {
  QByteArray png;
  QImage image;
  QString error;  // one line naming the file; empty when it was read
};

// Reads the images of the capture folder, which anyone able to write there
// may have swapped: only regular files of the user, never through a link,
// without blocking on special files, at most maximumFileSize bytes and
// maximumDecodedMiB of decoded pixels.
class CaptureFileReader {
 public:
  static constexpr size_t maximumFileSize = 256u << 20;
  static constexpr int maximumDecodedMiB = 1024;

  // On the calling thread.
  static LoadedCapture read(const std::filesystem::path& file);
  // The image scaled down to fit `side` × `side` pixels while it is decoded;
  // a null image when it cannot be read.
  static QImage thumbnail(const std::filesystem::path& file, int side);

  // read() on a worker of a small pool of its own: file work never takes the
  // threads that captures run on, and quitting never waits for it.
  static QFuture<LoadedCapture> load(std::filesystem::path file);
};

}  // namespace lumacap
