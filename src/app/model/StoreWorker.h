#pragma once

#include <QByteArray>
#include <QFuture>
#include <QThreadPool>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Date.h"
#include "core/ScreenshotStore.h"

namespace lumacap {

// Runs the history store's writes (and their flushes) on a thread of their
// own, one at a time. Each hands back the records it left behind, so that
// the GUI thread never reads the store while it changes.
class StoreWorker {
 public:
  using Work = std::function<std::optional<CaptureRecord>(ScreenshotStore&)>;
  struct Outcome {
    std::optional<CaptureRecord> record;
    std::vector<CaptureRecord> records;
    std::exception_ptr error;
  };

  StoreWorker();
  // Waits for the write under way.
  ~StoreWorker();

  // `store` outlives the worker.
  QFuture<Outcome> run(ScreenshotStore& store, Work work);

  // The writes, made outside any coroutine: GCC 12 mishandles a lambda with
  // captures made inside one.
  // Saves a capture, or renames its record when it has one and the name
  // changed; a name that gives the record's file name writes nothing.
  static Work saving(std::optional<std::string> savedID, QByteArray png, std::string name,
                     std::optional<std::string> origin, Date date);
  static Work renaming(std::string id, std::string name);
  static Work markingStaged(std::string id, std::string destination, std::string status, std::string message);
  static Work notingRecognizedText(std::string id, std::string text);
  static Work removing(std::vector<std::string> ids);
  static Work retaining(Retention retention, Date now);
  static std::optional<CaptureRecord> deletingAll(ScreenshotStore& store);
  // Makes `folder` the one new captures go to, moving every image there
  // first when `move`.
  static Work choosingFolder(std::filesystem::path folder, bool move);

 private:
  QThreadPool pool_;
};

}  // namespace lumacap
