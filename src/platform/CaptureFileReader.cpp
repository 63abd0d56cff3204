#include "platform/CaptureFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cerrno>
#include <optional>

#include <QFile>
#include <QUrl>
#include "core/AtomicFile.h"
#include "core/CaptureError.h"

namespace lumacap {
namespace {

// Never destroyed: the process ends without waiting for a read under way.
QThreadPool& fileWorkers() {
  static QThreadPool* pool = [] {
    auto* workers = new QThreadPool;
    workers->setMaxThreadCount(2);
    return workers;
  }();
  return *pool;
}

QByteArray readBytes(const std::filesystem::path& file, QString& error) {
  try {
    return QByteArray::fromStdString(readOwnRegularFile(file, CaptureFileReader::maximumFileSize));
  } catch (const std::exception& failure) {
    error = QString::fromStdString(failure.what());
    return {};
  }
}

// The path an absolute file:// URI names, byte for byte; nothing for any other URI (another
// scheme or host, a relative path).
std::optional<std::string> absoluteLocalPath(const QString& uri) {
  if (!uri.startsWith(QLatin1String("file://"))) return std::nullopt;
  const QUrl url(uri);
  if (!url.isValid() || url.hasQuery() || url.hasFragment() ||
      !(url.host().isEmpty() || url.host() == QLatin1String("localhost")))
    return std::nullopt;
  const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  if (!path.startsWith('/') || path.contains('\0')) return std::nullopt;
  return path.toStdString();
}

bool notBefore(const timespec& time, const timespec& start) {
  return time.tv_sec > start.tv_sec || (time.tv_sec == start.tv_sec && time.tv_nsec >= start.tv_nsec);
}

bool sameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Deletes the portal's screenshot once read, when it is what the portal wrote for this request:
// written (contents and name) no earlier than the request, directly in one of the portal's
// folders, and still the file that was read under its name.
void deleteIfMadeForTheRequest(const std::filesystem::path& file, const struct stat& read,
                               const PortalScreenshotFile& portal) {
  if (!notBefore(read.st_mtim, portal.requested) || !notBefore(read.st_ctim, portal.requested)) return;
  const FileDescriptor folder(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat folderInfo {};
  if (folder.get() < 0 || ::fstat(folder.get(), &folderInfo) != 0) return;
  const bool portalsFolder =
      std::any_of(portal.folders.begin(), portal.folders.end(), [&](const std::filesystem::path& candidate) {
        struct stat info {};
        return ::stat(candidate.c_str(), &info) == 0 && sameFile(info, folderInfo);
      });
  const std::string name = file.filename().string();
  struct stat named {};
  if (!portalsFolder || ::fstatat(folder.get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(named.st_mode) || !sameFile(named, read))
    return;
  ::unlinkat(folder.get(), name.c_str(), 0);
}

// What is wrong with a file for reading it as the portal's screenshot; nothing when it may be read.
std::optional<CaptureErrorKind> refusalOf(const struct stat& info) {
  if (S_ISLNK(info.st_mode)) return CaptureErrorKind::portalFileIsLink;
  if (!S_ISREG(info.st_mode)) return CaptureErrorKind::portalFileNotRegular;
  if (info.st_uid != ::geteuid()) return CaptureErrorKind::portalFileOfAnotherUser;
  if (static_cast<uintmax_t>(info.st_size) > CaptureFileReader::maximumFileSize)
    return CaptureErrorKind::portalFileTooLarge;
  return std::nullopt;
}

}  // namespace

LoadedCapture CaptureFileReader::read(const std::filesystem::path& file) {
  LoadedCapture loaded;
  loaded.png = readBytes(file, loaded.error);
  if (!loaded.error.isEmpty()) return loaded;
  QBuffer buffer(&loaded.png);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "png");
  reader.setAllocationLimit(maximumDecodedMiB);
  loaded.image = reader.read();
  if (loaded.image.isNull()) {
    loaded.error = QString::fromStdString(file.string()) +
                   QStringLiteral(": not a PNG image Lumacap can open (") + reader.errorString() +
                   QStringLiteral(")");
  }
  return loaded;
}

QImage CaptureFileReader::thumbnail(const std::filesystem::path& file, int side) {
  QString error;
  QByteArray bytes = readBytes(file, error);
  if (!error.isEmpty()) return {};
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setAllocationLimit(maximumDecodedMiB);
  const QSize size = reader.size();
  if (!size.isValid()) return {};
  if (std::max(size.width(), size.height()) > side) {
    // The PNG reader scales row by row while it decodes.
    reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
  }
  return reader.read();
}

QFuture<LoadedCapture> CaptureFileReader::load(std::filesystem::path file) {
  return QtConcurrent::run(&fileWorkers(), [file = std::move(file)] { return read(file); });
}

QImage CaptureFileReader::takePortalScreenshot(const PortalScreenshotFile& portal) {
  using Kind = CaptureErrorKind;
  const std::optional<std::string> path = absoluteLocalPath(portal.uri);
  if (!path) throw CaptureError(Kind::portalFileNotLocal);
  const std::filesystem::path file(*path);
  // Looked at before it is opened, so that a pipe or a device is never opened; then the same
  // checks on what was opened, in case the name was taken over in between.
  struct stat named {};
  if (::lstat(file.c_str(), &named) != 0) throw CaptureError(Kind::portalFileUnreadable);
  if (const auto refused = refusalOf(named)) throw CaptureError(*refused);
  const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) throw CaptureError(errno == ELOOP ? Kind::portalFileIsLink : Kind::portalFileUnreadable);
  struct stat opened {};
  if (::fstat(fd.get(), &opened) != 0) throw CaptureError(Kind::portalFileUnreadable);
  if (const auto refused = refusalOf(opened)) throw CaptureError(*refused);
  std::string bytes;
  try {
    bytes = readUpTo(fd.get(), maximumFileSize, file);
  } catch (const std::exception&) {
    throw CaptureError(Kind::portalFileUnreadable);
  }
  if (bytes.size() > maximumFileSize) throw CaptureError(Kind::portalFileTooLarge);
  QByteArray png = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&png);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "png");
  reader.setAllocationLimit(maximumDecodedMiB);
  const QSize size = reader.size();
  if (size.isValid() && qint64(size.width()) * size.height() * 4 > qint64(maximumDecodedMiB) << 20)
    throw CaptureError(Kind::portalFileTooLarge);
  QImage image = reader.read();
  if (image.isNull()) throw CaptureError(Kind::portalFileUnreadable);
  deleteIfMadeForTheRequest(file, opened, portal);
  return image;
}

std::vector<std::filesystem::path> CaptureFileReader::portalFolders() {
  std::vector<std::filesystem::path> folders{"/tmp"};
  for (const QString& folder : {QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
                                QDir::homePath(), QDir::tempPath()}) {
    if (!folder.isEmpty()) folders.emplace_back(QFile::encodeName(folder).toStdString());
  }
  return folders;
}

timespec CaptureFileReader::fileClockNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now;
}

}  // namespace lumacap
