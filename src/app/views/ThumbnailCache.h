#pragma once

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace lumacap {

// Small pictures of saved captures for the history list. Each is decoded on
// a worker thread, at most 180 pixels on its longer side and without ever
// holding the whole image, once per file name; it is then kept for the next
// time its row is painted. A file that cannot be read is remembered as such
// and not tried again. Requests beyond the latest 64 are dropped
// before they start: those rows have been scrolled away.
class ThumbnailCache final : public QObject {
  Q_OBJECT

 public:
  static constexpr int maximumPixelSize = 180;

  enum class State { absent, loading, loaded, unreadable };
  // Gives the picture of an image file, or a null image; runs on a worker.
  using Decoder = std::function<QImage(const QString& path)>;
  // Where the image of a file name is; asked on the GUI thread.
  using Locator = std::function<QString(const QString& filename)>;

  explicit ThumbnailCache(Locator locate, Decoder decode = &ThumbnailCache::decode,
                          QObject* parent = nullptr);
  // Waits for the decoding under way; nothing queued is started any more.
  ~ThumbnailCache() override;

  // The picture of the file, or a null image while it is being decoded (the
  // first request starts that) and for good when it cannot be read.
  QImage thumbnail(const QString& filename);
  State state(const QString& filename) const;

  // Forgets every file name but these: a deleted or renamed capture's name
  // may later be given to a new capture.
  void keepOnly(const QSet<QString>& filenames);

  // Reads the image at `path` scaled down to fit 180 × 180 pixels, as
  // CaptureFileReader reads capture files (never a link, a special file or
  // another user's file). Its own workers: never the capture path's.
  static QImage decode(const QString& path);

 signals:
  // The picture of `filename` is ready, known to be unreadable, or was
  // dropped (its row, if still shown, asks again when repainted).
  void loaded(const QString& filename);

 private:
  // A request not yet finished; `dropped` tells its worker not to start.
  struct Waiting {
    int ticket;
    std::shared_ptr<std::atomic<bool>> dropped;
  };
  static constexpr size_t maximumWaiting = 64;  // more rows than any screen shows

  // `image` is empty for a dropped request.
  void finish(const QString& filename, int ticket, const std::optional<QImage>& image);

  Locator locate_;
  Decoder decode_;
  QThreadPool workers_;
  // Thumbnails of screens are about 70 KiB each: this keeps more than a
  // thousand of them; beyond that the least recently painted are decoded
  // again when they are shown.
  QCache<QString, QImage> images_{96 * 1024};
  QHash<QString, int> loading_;  // file name → ticket of the decoding that counts
  QSet<QString> unreadable_;
  std::deque<Waiting> waiting_;  // oldest first
  int nextTicket_ = 0;
};

}  // namespace lumacap
