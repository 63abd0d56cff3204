#include "app/views/ThumbnailCache.h"

#include <QThread>
#include <algorithm>

#include "platform/BackgroundWork.h"
#include "platform/CaptureFileReader.h"

namespace lumacap {
ThumbnailCache::ThumbnailCache(Locator locate, Decoder decode, QObject* parent)
    : QObject(parent), locate_(std::move(locate)), decode_(std::move(decode)) {
  workers_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

ThumbnailCache::~ThumbnailCache() {
  workers_.clear();
  workers_.waitForDone();
}

QImage ThumbnailCache::thumbnail(const QString& filename) {
  if (const QImage* image = images_.object(filename)) return *image;
  if (loading_.contains(filename) || unreadable_.contains(filename)) return {};

  const int ticket = ++nextTicket_;
  loading_.insert(filename, ticket);
  auto dropped = std::make_shared<std::atomic<bool>>(false);
  waiting_.push_back({ticket, dropped});
  // Rows scrolled past long ago are not decoded any more: when they come
  // back into view, they ask again.
  if (waiting_.size() > maximumWaiting) {
    *waiting_.front().dropped = true;
    waiting_.pop_front();
  }
  // The latest request goes first: after a fast scroll the rows on screen
  // are decoded before those scrolled past.
  workers_.start(
      [this, filename, ticket, path = locate_(filename), decode = decode_, dropped] {
        std::optional<QImage> image;
        if (!*dropped) {
          yieldToInteractiveWork();
          image = decode(path);
        }
        QMetaObject::invokeMethod(
            this, [=, this] { finish(filename, ticket, image); }, Qt::QueuedConnection);
      },
      ticket);
  return {};
}

ThumbnailCache::State ThumbnailCache::state(const QString& filename) const {
  if (images_.contains(filename)) return State::loaded;
  if (loading_.contains(filename)) return State::loading;
  if (unreadable_.contains(filename)) return State::unreadable;
  return State::absent;
}

void ThumbnailCache::keepOnly(const QSet<QString>& filenames) {
  for (const QString& filename : images_.keys()) {
    if (!filenames.contains(filename)) images_.remove(filename);
  }
  loading_.removeIf([&](auto entry) { return !filenames.contains(entry.key()); });
  unreadable_.removeIf([&](const QString& filename) { return !filenames.contains(filename); });
}

void ThumbnailCache::finish(const QString& filename, int ticket, const std::optional<QImage>& image) {
  std::erase_if(waiting_, [ticket](const Waiting& entry) { return entry.ticket == ticket; });
  // A decoding of a name that was forgotten meanwhile shows an older file.
  if (loading_.value(filename) != ticket) return;
  loading_.remove(filename);
  if (!image) {
    // Dropped: a row still on screen asks again when it is repainted.
  } else if (image->isNull()) {
    unreadable_.insert(filename);
  } else {
    images_.insert(filename, new QImage(*image), std::max<qsizetype>(1, image->sizeInBytes() / 1024));
  }
  emit loaded(filename);
}

QImage ThumbnailCache::decode(const QString& path) {
  QImage image = CaptureFileReader::thumbnail(path.toStdString(), maximumPixelSize);
  if (image.isNull()) return {};
  // Painted often, converted once: the format the screen's painter draws fastest.
  image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  return image;
}

}  // namespace lumacap
