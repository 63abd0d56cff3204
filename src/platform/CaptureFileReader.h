#pragma once

#include <QByteArray>
#include <QFuture>
#include <QImage>
#include <QString>
#include <ctime>
#include <filesystem>
#include <vector>

class QThreadPool;

namespace lumacap {

// The screenshot a desktop's screenshot portal wrote for one request, named by the URI of its
// answer: Lumacap reads it once and deletes it (the next one may take the name).
struct PortalScreenshotFile {
  QString uri;
  // When the request was made, by the clock file times follow (CaptureFileReader::fileClockNow()).
  timespec requested{};
  // The folders the portal writes screenshots to (CaptureFileReader::portalFolders()).
  std::vector<std::filesystem::path> folders;
};

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

  // The image of a portal's screenshot: an absolute file:// URI naming a regular file of the
  // user, opened without following a link or blocking, of at most maximumFileSize bytes, a PNG of
  // at most maximumDecodedMiB. The file is deleted afterwards only when it is what the portal made
  // for this request: read as a PNG, directly in one of its folders, and written no earlier than
  // the request; never otherwise. Throws CaptureError saying what is wrong.
  static QImage takePortalScreenshot(const PortalScreenshotFile& file);
  // Where the desktops' portals write screenshots: the user's pictures folder (GNOME Shell,
  // xdg-desktop-portal-kde), the home folder (GNOME Shell without a pictures folder), /tmp
  // (xdg-desktop-portal-wlr's /tmp/out.png) and the temporary folder.
  static std::vector<std::filesystem::path> portalFolders();
  // Now, by the coarse clock file systems stamp files with: a file written later never has an
  // earlier time.
  static timespec fileClockNow();
};

}  // namespace lumacap
