#include "app/model/StoreWorker.h"

#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "core/FilenameGenerator.h"

namespace lumacap {

StoreWorker::StoreWorker() { pool_.setMaxThreadCount(1); }

StoreWorker::~StoreWorker() { pool_.waitForDone(); }

QFuture<StoreWorker::Outcome> StoreWorker::run(ScreenshotStore& store, Work work) {
  return QtConcurrent::run(&pool_, [store = &store, work = std::move(work)] {
    Outcome outcome;
    try {
      outcome.record = work(*store);
    } catch (...) {
      outcome.error = std::current_exception();
    }
    outcome.records = store->records();
    return outcome;
  });
}

StoreWorker::Work StoreWorker::saving(std::optional<std::string> savedID, QByteArray png, std::string name,
                                      std::optional<std::string> origin, Date date) {
  return [=](ScreenshotStore& store) {
    const auto& records = store.records();
    const auto saved = std::find_if(records.begin(), records.end(),
                                    [&](const CaptureRecord& record) { return record.id == savedID; });
    if (savedID && saved != records.end()) {
      if (FilenameGenerator::stem(name) + ".png" == saved->filename) return std::optional(*saved);
      return std::optional(store.rename(*savedID, name));
    }
    // Never saved, or its record was deleted while the capture was in hand.
    return std::optional(
        store.save(std::string_view(png.constData(), static_cast<size_t>(png.size())), name, origin, date));
  };
}

StoreWorker::Work StoreWorker::renaming(std::string id, std::string name) {
  return [id = std::move(id), name = std::move(name)](ScreenshotStore& store) {
    return std::optional(store.rename(id, name));
  };
}

StoreWorker::Work StoreWorker::markingStaged(std::string id, std::string destination, std::string status,
                                             std::string message) {
  return [id = std::move(id), destination = std::move(destination), status = std::move(status),
          message = std::move(message)](ScreenshotStore& store) -> std::optional<CaptureRecord> {
    store.markStaged(id, destination, status, message);
    return std::nullopt;
  };
}

StoreWorker::Work StoreWorker::notingRecognizedText(std::string id, std::string text) {
  return
      [id = std::move(id), text = std::move(text)](ScreenshotStore& store) -> std::optional<CaptureRecord> {
        store.noteRecognizedText(id, text);
        return std::nullopt;
      };
}

StoreWorker::Work StoreWorker::removing(std::vector<std::string> ids) {
  return [ids = std::move(ids)](ScreenshotStore& store) -> std::optional<CaptureRecord> {
    store.remove(ids);
    return std::nullopt;
  };
}

StoreWorker::Work StoreWorker::retaining(Retention retention, Date now) {
  return [retention, now](ScreenshotStore& store) -> std::optional<CaptureRecord> {
    store.applyRetention(retention, now);
    return std::nullopt;
  };
}

StoreWorker::Work StoreWorker::choosingFolder(std::filesystem::path folder, bool move) {
  return [folder = std::move(folder), move](ScreenshotStore& store) -> std::optional<CaptureRecord> {
    if (move) {
      store.moveCaptures(folder);
    } else {
      store.setSaveFolder(folder);
    }
    return std::nullopt;
  };
}

std::optional<CaptureRecord> StoreWorker::deletingAll(ScreenshotStore& store) {
  store.deleteAll();
  return std::nullopt;
}

}  // namespace lumacap
