#include "platform/CaptureFileReader.h"

#include <QBuffer>
#include <QImageReader>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "core/AtomicFile.h"

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

}  // namespace lumacap
