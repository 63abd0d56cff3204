#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/AtomicFile.h"
#include "core/Date.h"
#include "core/ProgramError.h"

namespace lumacap {

// One saved capture in the history.
struct CaptureRecord {
  std::string id;        // a UUID in upper-case text form, unique in the history
  std::string filename;  // name inside the capture folder, ends in ".png", unique in the history
  Date createdAt;
  std::optional<std::string> application;
  std::optional<std::string> destination;     // title of the last destination it was delivered to
  std::optional<std::string> deliveryStatus;  // short status of that delivery
  std::optional<std::string> message;         // the message delivered with it the last time
  std::optional<std::string> recognizedText;  // the text recognised in its image, for searching
  // The folder its image lives in (an absolute path) when that is not the
  // store's own root/Captures: captures saved to a folder the user chose, or
  // left there when the user moved to another one.
  std::optional<std::string> folder;

  bool operator==(const CaptureRecord&) const = default;
};

// How long captures are kept: all of them, those of the last `count` days,
// or the newest `count` captures.
struct Retention {
  enum class Kind { keepAll, days, captures };
  Kind kind = Kind::keepAll;
  int count = 0;

  // Its settings text: "all", "days:N" or "captures:N"; nothing for any
  // other text or a count outside 1…maximumCount.
  static std::optional<Retention> decoded(std::string_view text);
  std::string encoded() const;
  static constexpr int maximumCount = 100000;
  bool operator==(const Retention&) const = default;
};

enum class StoreErrorKind { invalidIndex, missingCapture, nameTaken };

// The history store's own failures, each with the text the user sees.
class StoreError : public KindedError<StoreErrorKind> {
 public:
  // `filename` is the name a nameTaken error is about.
  explicit StoreError(Kind kind, std::string_view filename = {});
};

// The capture history: one PNG file per capture in root/Captures, or in the
// folder its record names, and the index root/history.json listing the
// records, newest first. File names stay unique across the whole index,
// whatever folder each image is in. The store is the only
// writer of both. It never lists the capture folder: files no record names are
// neither adopted nor removed. A damaged index makes opening fail and nothing
// on disk is touched.
//
// Every change is ordered so that an interruption at any moment (a crash, a
// kill, a failed index write) leaves every record of the index on disk naming
// an existing image; the worst left behind is an image no record names.
//
// Each change takes an advisory lock (on root/Captures) and reads the index
// again under it when another process replaced it, so two processes saving
// into one folder never drop each other's records. Otherwise not
// synchronised: one owner, one thread at a time.
class ScreenshotStore {
 public:
  static std::filesystem::path defaultRoot();

  // Opens the store at `root`, creating root/Captures (folders 0700) when
  // missing. Throws StoreError::invalidIndex when history.json cannot be read
  // (it is not a regular file, or larger than maximumIndexSize) or is
  // damaged, std::system_error when the folder cannot be created.
  explicit ScreenshotStore(std::filesystem::path root);

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path capturesDirectory() const { return root_ / "Captures"; }
  std::filesystem::path indexFile() const { return root_ / "history.json"; }
  const std::vector<CaptureRecord>& records() const { return records_; }

  // Where the record's image lives; does not check that it exists.
  std::filesystem::path url(const CaptureRecord& record) const;
  // The same for a record of the store at `root`.
  static std::filesystem::path imageFile(const std::filesystem::path& root, const CaptureRecord& record);

  // The folder new captures are saved to: root/Captures unless another was
  // set (an absolute path; created 0700 when the first capture is saved).
  // Throws std::invalid_argument for a relative path.
  std::filesystem::path saveFolder() const;
  void setSaveFolder(const std::filesystem::path& folder);
  // Creates `folder` (0700) when missing and makes sure a file can be
  // written there; throws std::system_error naming the path when not.
  static void prepareFolder(const std::filesystem::path& folder);
  // How many of `records` (of the store at `root`) have their image
  // elsewhere than in `folder`.
  static size_t countOutside(const std::vector<CaptureRecord>& records, const std::filesystem::path& root,
                             const std::filesystem::path& folder);
  // Makes `folder` the save folder and moves every image that lives
  // elsewhere into it, under its own name when free there, else a free one;
  // how many records moved. All or none: the index switches over once every
  // image has its copy there, and only then do the old files go; a failure
  // removes the copies made, throws, and leaves every record and image as it
  // was, the save folder included.
  size_t moveCaptures(const std::filesystem::path& folder);

  // Stores the image under a free name made from `name` and puts its record
  // first in the history.
  CaptureRecord save(std::string_view png, std::string_view name,
                     const std::optional<std::string>& application, Date date);

  // Gives the capture the name made from `name`, its image file and its
  // record together; a name that already yields its current file name
  // changes nothing. Throws StoreError::nameTaken, changing nothing, when
  // another record or another file in the folder has that name.
  CaptureRecord rename(std::string_view id, std::string_view name);

  // Records the last delivery of a capture and the message that went with
  // it (none when empty).
  void markStaged(std::string_view id, std::string_view destination, std::string_view status,
                  std::string_view message = {});

  // Records the text recognised in a capture's image (none when empty),
  // cut to maximumSearchTextSize; the same text again writes nothing.
  void noteRecognizedText(std::string_view id, std::string_view text);

  // Removes a capture from the history and its image from the folder. An
  // image already gone is not an error.
  void remove(std::string_view id);
  // Removes these captures and their images together: when one cannot be
  // removed, nothing is (all of them stay listed, with their images).
  void remove(const std::vector<std::string>& ids);

  // Removes, as `remove` does for a set, the captures `retention` no longer
  // keeps at `now`; how many went.
  size_t applyRetention(const Retention& retention, Date now);
  // The ids of the records `retention` no longer keeps at `now`: older than
  // its days, or after its newest captures (the records are newest first).
  static std::vector<std::string> expired(const std::vector<CaptureRecord>& records,
                                          const Retention& retention, Date now);

  // Removes every capture, newest first; the first failure stops and is
  // thrown, captures removed before it stay removed.
  void deleteAll();

  // The index file format: a pretty-printed JSON array of records with sorted
  // keys, absent optional fields omitted.
  static std::string encodeIndex(const std::vector<CaptureRecord>& records);

  // Reads and checks an index: unique ids, unique file names, every file name
  // a plain "*.png" name without a leading ".". Throws
  // StoreError::invalidIndex for anything else.
  static std::vector<CaptureRecord> decodeIndex(std::string_view bytes);

  // Far beyond any real history (10,000 captures take about 2.5 MB).
  static constexpr size_t maximumIndexSize = 256u << 20;
  // What the program itself writes into a record: a file name the file
  // system takes, and an application's name, a destination's title or a
  // delivery status cut to this many bytes. An index holding more is damaged.
  static constexpr size_t maximumFilenameSize = 255;
  static constexpr size_t maximumTextSize = 1024;
  // A message or a recognised text is kept for searching, cut to this.
  static constexpr size_t maximumSearchTextSize = 4096;
  // The longest folder path a record holds (PATH_MAX).
  static constexpr size_t maximumFolderSize = 4096;

  // The lock one running application holds on its data folder (`root`
  // itself) for its lifetime: nothing when another process holds it.
  static std::optional<FileDescriptor> lockForApplication(const std::filesystem::path& root);

 private:
  size_t indexOf(std::string_view id) const;
  std::string uniqueFilename(std::string_view name) const;
  bool filenameIsFree(const std::string& filename, const std::filesystem::path& folder) const;
  // What saveFolder_ becomes for `folder`.
  std::optional<std::filesystem::path> chosenFolder(const std::filesystem::path& folder) const;
  void commit(std::vector<CaptureRecord> records);
  // Under the lock.
  void removeLocked(const std::vector<std::string>& ids);
  // Locks the index against the changes of other processes and reads what
  // they wrote since.
  FileDescriptor lockAndReload();

  std::filesystem::path root_;
  std::optional<std::filesystem::path> saveFolder_;  // when not root_/Captures
  std::vector<CaptureRecord> records_;
  std::optional<FileIdentity> indexIdentity_;  // of the index records_ was read from or written to
};

}  // namespace lumacap
