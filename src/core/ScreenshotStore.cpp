#include "core/ScreenshotStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <exception>
#include <nlohmann/json.hpp>
#include <unordered_set>
#include <utility>
#include <variant>

#include "core/AtomicFile.h"
#include "core/DataRoot.h"
#include "core/FilenameGenerator.h"
#include "core/Hashing.h"
#include "core/Unicode.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace lumacap {

namespace {

std::string storeErrorDescription(StoreErrorKind kind, std::string_view filename) {
  switch (kind) {
    case StoreErrorKind::invalidIndex:
      return "Capture history could not be read safely. Your image files have not been changed.";
    case StoreErrorKind::missingCapture:
      return "This capture is no longer available.";
    case StoreErrorKind::nameTaken:
      return "Another capture is already named “" + std::string(filename) +
             "”. Choose another name; nothing was renamed.";
  }
  return {};
}

}  // namespace

StoreError::StoreError(Kind kind, std::string_view filename)
    : KindedError(kind, storeErrorDescription(kind, filename).c_str()) {}

namespace {

[[noreturn]] void invalidIndex() { throw StoreError(StoreError::Kind::invalidIndex); }

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The upper-case form of a UUID in its 36-character hyphenated text form, in
// either case; nothing for any other text.
std::optional<std::string> canonicalUuid(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  std::string result(text);
  for (size_t i = 0; i < result.size(); ++i) {
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen ? result[i] != '-' : !isHexDigit(result[i])) return std::nullopt;
    result[i] = asciiUpper(result[i]);
  }
  return result;
}

// Texts reach the index as JSON strings, which must be valid UTF-8; repairing
// them on the way in keeps the records in memory equal to those on disk.
std::string validUtf8(std::string_view text) {
  return unicode::isValidUtf8(text) ? std::string(text) : unicode::encode(unicode::decode(text));
}

// A text for a record: valid UTF-8 of at most `limit` bytes, cut at a
// character's start.
std::string recordText(std::string_view text, size_t limit = ScreenshotStore::maximumTextSize) {
  std::string valid = validUtf8(text);
  if (valid.size() <= limit) return valid;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(valid[end]) & 0xC0) == 0x80) --end;
  valid.resize(end);
  return valid;
}

std::optional<FileIdentity> identityOf(const fs::path& file) {
  struct stat info {};
  if (::lstat(file.c_str(), &info) != 0) return std::nullopt;
  return FileIdentity{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

// An absolute folder path a record may name; NUL or a relative path would
// let the record point anywhere.
bool isFolderPath(const std::string& folder) {
  return folder.starts_with('/') && folder.find('\0') == std::string::npos && unicode::isValidUtf8(folder);
}

bool isPlainPngName(const std::string& filename) {
  return !filename.empty() && filename.find('/') == std::string::npos &&
         filename.find('\0') == std::string::npos && !filename.starts_with('.') && filename.ends_with(".png");
}

// Reads an index as a stream of JSON events straight into records, without
// building a document first: an index of 10,000 captures opens several times
// faster. The outcome is that of reading the document: within a record the
// last occurrence of a key counts, unknown keys are skipped whatever they
// hold, anything but an array of records stops the parse.
class IndexReader final : public json::json_sax_t {
 public:
  std::vector<CaptureRecord> records;

  bool null() override { return value(Null{}); }
  bool boolean(bool) override { return value(Other{}); }
  bool number_integer(number_integer_t number) override { return value(static_cast<double>(number)); }
  bool number_unsigned(number_unsigned_t number) override { return value(static_cast<double>(number)); }
  bool number_float(number_float_t number, const string_t&) override { return value(number); }
  bool string(string_t& text) override { return value(std::move(text)); }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override;
  bool key(string_t& name) override;
  bool end_object() override;
  bool start_array(std::size_t) override;
  bool end_array() override;
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

  bool finished() const { return finished_; }

 private:
  struct Null {};
  struct Other {};  // a boolean, an object or an array
  using Value = std::variant<Null, double, std::string, Other>;
  enum Field {
    id,
    filename,
    createdAt,
    application,
    destination,
    deliveryStatus,
    message,
    recognizedText,
    folder,
    fieldCount,
    unknown
  };
  enum class State { absent, valid, invalid };

  bool value(Value value);
  void assign(Value value);
  bool finishRecord();

  // 1 inside the array, 2 inside a record, 3 and more inside a value that is
  // skipped.
  int depth_ = 0;
  bool finished_ = false;
  Field field_ = unknown;
  CaptureRecord record_;
  State states_[fieldCount] = {};
};

bool IndexReader::value(Value value) {
  if (depth_ > 2) return true;
  if (depth_ != 2) return false;  // the top level and the array hold only records
  assign(std::move(value));
  return true;
}

void IndexReader::assign(Value value) {
  if (field_ == unknown) return;
  bool valid = false;
  if (field_ == id) {
    if (auto* text = std::get_if<std::string>(&value)) {
      std::optional<std::string> canonical = canonicalUuid(*text);
      if ((valid = canonical.has_value())) record_.id = std::move(*canonical);
    }
  } else if (field_ == filename) {
    if (auto* text = std::get_if<std::string>(&value);
        text && text->size() <= ScreenshotStore::maximumFilenameSize) {
      record_.filename = std::move(*text);
      valid = true;
    }
  } else if (field_ == createdAt) {
    if (auto* number = std::get_if<double>(&value)) {
      record_.createdAt.secondsSinceReferenceDate = *number;
      valid = std::isfinite(*number);
    }
  } else {
    std::optional<std::string>& target = field_ == application      ? record_.application
                                         : field_ == destination    ? record_.destination
                                         : field_ == deliveryStatus ? record_.deliveryStatus
                                         : field_ == message        ? record_.message
                                         : field_ == folder         ? record_.folder
                                                                    : record_.recognizedText;
    const size_t limit = field_ == folder ? ScreenshotStore::maximumFolderSize
                         : field_ == message || field_ == recognizedText
                             ? ScreenshotStore::maximumSearchTextSize
                             : ScreenshotStore::maximumTextSize;
    if (std::holds_alternative<Null>(value)) {
      target.reset();
      valid = true;
    } else if (auto* text = std::get_if<std::string>(&value); text && text->size() <= limit) {
      target = std::move(*text);
      valid = true;
    }
  }
  states_[field_] = valid ? State::valid : State::invalid;
}

bool IndexReader::finishRecord() {
  for (Field field : {id, filename, createdAt}) {
    if (states_[field] != State::valid) return false;
  }
  for (Field field : {application, destination, deliveryStatus, message, recognizedText, folder}) {
    if (states_[field] == State::invalid) return false;
  }
  records.push_back(std::move(record_));
  return true;
}

bool IndexReader::start_object(std::size_t) {
  if (depth_ == 0) return false;
  if (depth_ == 1) {
    record_ = CaptureRecord{};
    std::fill(std::begin(states_), std::end(states_), State::absent);
  }
  if (depth_ == 2) assign(Other{});
  ++depth_;
  return true;
}

bool IndexReader::key(string_t& name) {
  if (depth_ != 2) return true;
  static constexpr std::pair<std::string_view, Field> fields[] = {{"id", id},
                                                                  {"filename", filename},
                                                                  {"createdAt", createdAt},
                                                                  {"application", application},
                                                                  {"destination", destination},
                                                                  {"deliveryStatus", deliveryStatus},
                                                                  {"message", message},
                                                                  {"recognizedText", recognizedText},
                                                                  {"folder", folder}};
  field_ = unknown;
  for (const auto& [text, field] : fields) {
    if (name == text) field_ = field;
  }
  return true;
}

bool IndexReader::end_object() {
  --depth_;
  return depth_ == 1 ? finishRecord() : true;
}

bool IndexReader::start_array(std::size_t) {
  if (depth_ == 1) return false;
  if (depth_ == 2) assign(Other{});
  ++depth_;
  return true;
}

bool IndexReader::end_array() {
  --depth_;
  if (depth_ == 0) finished_ = true;
  return true;
}

// The JSON library escapes the text; only the layout around it is ours.
void appendString(std::string& out, std::string_view text) {
  out += json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
}

// The shortest text that reads back as the same double, always with a
// fraction or an exponent.
void appendNumber(std::string& out, double value) {
  if (!std::isfinite(value)) throw std::invalid_argument("A capture date must be a finite time.");
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  const std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
  out += text;
  if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

void appendMember(std::string& out, std::string_view key, std::string_view value, bool last = false) {
  out += "    \"";
  out += key;
  out += "\": ";
  const bool ascii = std::all_of(value.begin(), value.end(), [](char c) { return (c & 0x80) == 0; });
  if (ascii || unicode::isValidUtf8(value)) {
    appendString(out, value);
  } else {
    appendString(out, validUtf8(value));
  }
  out += last ? "\n" : ",\n";
}

void checkInvariants(const std::vector<CaptureRecord>& records) {
  std::unordered_set<std::string_view> ids;
  std::unordered_set<std::string_view> filenames;
  for (const CaptureRecord& record : records) {
    ids.insert(record.id);
    filenames.insert(record.filename);
  }
  if (ids.size() != records.size() || filenames.size() != records.size()) invalidIndex();
  for (const CaptureRecord& record : records) {
    if (!isPlainPngName(record.filename)) invalidIndex();
    if (record.folder && !isFolderPath(*record.folder)) invalidIndex();
  }
}

bool pathExists(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) return true;
  if (errno == ENOENT) return false;
  // Anything else (a folder we may not search, a file where the folder should
  // be) would make every name look free or taken forever.
  throwSystemError(errno, "Could not look for", path);
}

// Gives the file `from` the second name `to`, failing when `to` is taken. On a
// file system without hard links the content is copied instead.
void addName(const fs::path& from, const fs::path& to) {
  if (::link(from.c_str(), to.c_str()) == 0) return;
  const int error = errno;
  if (!hardLinksUnsupported(error)) throwSystemError(error, "Could not rename", from);
  writeNewPrivateFile(to, readWholeFile(from));
}

// An image on its way out of the capture folder. It first gets a hidden
// second name, which proves that the folder lets us remove it before the
// index changes; the image keeps its own name until the index no longer lists
// it, so an interruption never leaves a record without its image. Leftovers
// of an interrupted run are hidden and never adopted.
struct Removal {
  fs::path file;
  fs::path pending;
  bool present = false;
  bool linked = false;
};

Removal prepareRemoval(const fs::path& folder, const CaptureRecord& record) {
  Removal removal{folder / record.filename, folder / (".deleting-" + record.id)};
  removal.present = pathExists(removal.file);
  if (!removal.present) return removal;  // already gone by hand: only the record goes
  ::unlink(removal.pending.c_str());
  if (::link(removal.file.c_str(), removal.pending.c_str()) == 0) {
    removal.linked = true;
  } else if (!hardLinksUnsupported(errno)) {
    throwSystemError(errno, "Could not delete", removal.file);
  }
  return removal;
}

void undoRemoval(const Removal& removal) {
  if (removal.linked) ::unlink(removal.pending.c_str());
}

// Once the index no longer lists the record.
void finishRemoval(const Removal& removal) {
  if (removal.present && ::unlink(removal.file.c_str()) != 0 && errno != ENOENT) {
    throwSystemError(errno, "Could not delete", removal.file);
  }
  if (removal.linked && ::unlink(removal.pending.c_str()) != 0 && errno != ENOENT) {
    throwSystemError(errno, "Could not delete", removal.pending);
  }
}

// Writes the index without the removed records (`commit`), then lets their
// images go. A failed write gives every image its name back and throws; the
// first image that cannot go is returned, once all the others went.
template <typename Commit>
std::exception_ptr commitRemovals(const std::vector<Removal>& removals, Commit&& commit) {
  try {
    commit();
  } catch (...) {
    for (const Removal& removal : removals) undoRemoval(removal);
    throw;
  }
  std::exception_ptr failure;
  for (const Removal& removal : removals) {
    try {
      finishRemoval(removal);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  return failure;
}

}  // namespace

fs::path ScreenshotStore::defaultRoot() { return dataRoot(); }

ScreenshotStore::ScreenshotStore(fs::path root) : root_(std::move(root)) {
  createPrivateDirectories(capturesDirectory());
  std::optional<FileSnapshot> index;
  try {
    index = readRegularFile(indexFile(), maximumIndexSize);
  } catch (const std::exception&) {
    invalidIndex();  // a folder, a FIFO, a device, or too large to be ours
  }
  // No index (or a link to one not written yet): an empty history, and no
  // index is written before the first change.
  if (index) {
    records_ = decodeIndex(index->bytes);
    indexIdentity_ = index->identity;
  }
}

std::optional<FileDescriptor> ScreenshotStore::lockForApplication(const fs::path& root) {
  createPrivateDirectories(root);
  return tryLockExclusively(root);
}

FileDescriptor ScreenshotStore::lockAndReload() {
  FileDescriptor lock = lockExclusively(capturesDirectory(), indexFile());
  if (identityOf(indexFile()) == indexIdentity_) return lock;
  std::optional<FileSnapshot> index;
  try {
    index = readRegularFile(indexFile(), maximumIndexSize);
  } catch (const std::exception&) {
    invalidIndex();
  }
  records_ = index ? decodeIndex(index->bytes) : std::vector<CaptureRecord>{};
  indexIdentity_ = index ? std::optional(index->identity) : std::nullopt;
  return lock;
}

fs::path ScreenshotStore::url(const CaptureRecord& record) const { return imageFile(root_, record); }

namespace {

// A folder's path in one spelling: no "." or "..", no slash at its end.
fs::path folderPath(const fs::path& folder) {
  fs::path normal = folder.lexically_normal();
  if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
  return normal;
}

}  // namespace

fs::path ScreenshotStore::imageFile(const fs::path& root, const CaptureRecord& record) {
  return (record.folder ? fs::path(*record.folder) : root / "Captures") / record.filename;
}

fs::path ScreenshotStore::saveFolder() const { return saveFolder_ ? *saveFolder_ : capturesDirectory(); }

void ScreenshotStore::setSaveFolder(const fs::path& folder) { saveFolder_ = chosenFolder(folder); }

std::optional<fs::path> ScreenshotStore::chosenFolder(const fs::path& folder) const {
  const fs::path normal = folderPath(folder);
  if (normal.empty() || normal == folderPath(capturesDirectory())) return std::nullopt;
  if (!normal.is_absolute() || !isFolderPath(normal.string()) || normal.string().size() > maximumFolderSize)
    throw std::invalid_argument("A capture folder must be an absolute path.");
  return normal;
}

std::string ScreenshotStore::encodeIndex(const std::vector<CaptureRecord>& records) {
  // Written by hand rather than through a JSON document: saving into a long
  // history rewrites the whole index, and this is about five times
  // faster. Keys in sorted order, two-space indentation.
  if (records.empty()) return "[]\n";
  std::string out;
  out.reserve(records.size() * 256);
  out += "[\n";
  for (size_t i = 0; i < records.size(); ++i) {
    const CaptureRecord& record = records[i];
    out += "  {\n";
    if (record.application) appendMember(out, "application", *record.application);
    out += "    \"createdAt\": ";
    appendNumber(out, record.createdAt.secondsSinceReferenceDate);
    out += ",\n";
    if (record.deliveryStatus) appendMember(out, "deliveryStatus", *record.deliveryStatus);
    if (record.destination) appendMember(out, "destination", *record.destination);
    appendMember(out, "filename", record.filename);
    if (record.folder) appendMember(out, "folder", *record.folder);
    appendMember(out, "id", record.id, !record.message && !record.recognizedText);
    if (record.message) appendMember(out, "message", *record.message, !record.recognizedText);
    if (record.recognizedText) appendMember(out, "recognizedText", *record.recognizedText, true);
    out += i + 1 < records.size() ? "  },\n" : "  }\n";
  }
  out += "]\n";
  return out;
}

std::vector<CaptureRecord> ScreenshotStore::decodeIndex(std::string_view bytes) {
  // The parser takes a NUL byte for the end of the text: what follows would
  // go unread.
  if (bytes.find('\0') != std::string_view::npos) invalidIndex();
  IndexReader reader;
  if (!json::sax_parse(bytes.begin(), bytes.end(), &reader) || !reader.finished()) invalidIndex();
  checkInvariants(reader.records);
  return std::move(reader.records);
}

size_t ScreenshotStore::indexOf(std::string_view id) const {
  const std::optional<std::string> wanted = canonicalUuid(id);
  if (wanted) {
    for (size_t i = 0; i < records_.size(); ++i) {
      if (records_[i].id == *wanted) return i;
    }
  }
  throw StoreError(StoreError::Kind::missingCapture);
}

bool ScreenshotStore::filenameIsFree(const std::string& filename, const fs::path& folder) const {
  const bool recorded = std::any_of(records_.begin(), records_.end(),
                                    [&](const CaptureRecord& record) { return record.filename == filename; });
  return !recorded && !pathExists(folder / filename);
}

std::string ScreenshotStore::uniqueFilename(std::string_view name) const {
  const std::string stem = FilenameGenerator::stem(name);
  std::string candidate = stem + ".png";
  for (unsigned long n = 2; !filenameIsFree(candidate, saveFolder()); ++n) {
    candidate = stem + "-" + std::to_string(n) + ".png";
  }
  return candidate;
}

void ScreenshotStore::commit(std::vector<CaptureRecord> records) {
  writeFileAtomically(indexFile(), encodeIndex(records));
  records_ = std::move(records);
  indexIdentity_ = identityOf(indexFile());
}

CaptureRecord ScreenshotStore::save(std::string_view png, std::string_view name,
                                    const std::optional<std::string>& application, Date date) {
  if (!std::isfinite(date.secondsSinceReferenceDate)) {
    throw std::invalid_argument("A capture date must be a finite time.");
  }
  const FileDescriptor lock = lockAndReload();
  CaptureRecord record;
  record.id = randomUuidString();
  record.filename = uniqueFilename(name);
  record.createdAt = date;
  if (application) record.application = recordText(*application);
  if (saveFolder_) record.folder = saveFolder_->string();

  const fs::path file = url(record);
  createPrivateDirectories(saveFolder());
  writeNewPrivateFile(file, png);
  syncFolder(saveFolder());
  std::vector<CaptureRecord> list;
  list.reserve(records_.size() + 1);
  list.push_back(record);
  list.insert(list.end(), records_.begin(), records_.end());
  try {
    commit(std::move(list));
  } catch (...) {
    ::unlink(file.c_str());
    throw;
  }
  return record;
}

CaptureRecord ScreenshotStore::rename(std::string_view id, std::string_view name) {
  const FileDescriptor lock = lockAndReload();
  const size_t index = indexOf(id);
  CaptureRecord updated = records_[index];
  const std::string wanted = FilenameGenerator::stem(name) + ".png";
  if (wanted == updated.filename) return updated;
  // Another name would be a rename the user did not ask for.
  if (!filenameIsFree(wanted, url(updated).parent_path()))
    throw StoreError(StoreError::Kind::nameTaken, wanted);
  updated.filename = wanted;

  // The image gets its new name beside the old one, the index switches over,
  // and only then does the old name go: whenever this stops, the index on
  // disk names a file that exists.
  const fs::path from = url(records_[index]);
  const fs::path to = url(updated);
  addName(from, to);
  syncFolder(to.parent_path());
  std::vector<CaptureRecord> list = records_;
  list[index] = updated;
  try {
    commit(std::move(list));
  } catch (...) {
    ::unlink(to.c_str());
    throw;
  }
  // The rename has taken effect; an old name that cannot be removed is only a
  // second name of the same image that no record uses.
  ::unlink(from.c_str());
  return updated;
}

namespace {

// The image's name in the folder it moves to: its own when free there, else
// the first free one after it (never another record's).
std::string nameInFolder(const std::string& filename, const fs::path& folder,
                         const std::unordered_set<std::string>& taken) {
  const std::string stem = filename.substr(0, filename.size() - 4);
  std::string candidate = filename;
  for (unsigned long n = 2; taken.contains(candidate) || pathExists(folder / candidate); ++n) {
    candidate = stem + "-" + std::to_string(n) + ".png";
  }
  return candidate;
}

// A second name for `from` in another folder: a hard link, or a private copy
// where the two are on different file systems or links are not supported.
void placeCopy(const fs::path& from, const fs::path& to) {
  if (::link(from.c_str(), to.c_str()) == 0) return;
  const int error = errno;
  if (error != EXDEV && !hardLinksUnsupported(error)) throwSystemError(error, "Could not move", from);
  writeNewPrivateFile(to, readWholeFile(from));
}

}  // namespace

void ScreenshotStore::prepareFolder(const fs::path& folder) {
  if (!folder.is_absolute()) throw std::invalid_argument("A capture folder must be an absolute path.");
  createPrivateDirectories(folder);
  // Only a file written there proves it (permissions, a read-only mount, a
  // full disk).
  const fs::path probe = folder / (".lumacap-" + randomUuidString());
  writeNewPrivateFile(probe, "");
  ::unlink(probe.c_str());
}

size_t ScreenshotStore::countOutside(const std::vector<CaptureRecord>& records, const fs::path& root,
                                     const fs::path& folder) {
  return static_cast<size_t>(std::count_if(records.begin(), records.end(), [&](const CaptureRecord& record) {
    return folderPath(imageFile(root, record).parent_path()) != folderPath(folder);
  }));
}

size_t ScreenshotStore::moveCaptures(const fs::path& folder) {
  const FileDescriptor lock = lockAndReload();
  const std::optional<fs::path> chosen = chosenFolder(folder);
  const fs::path target = folderPath(chosen ? *chosen : capturesDirectory());
  createPrivateDirectories(target);
  std::unordered_set<std::string> taken;
  for (const CaptureRecord& record : records_) taken.insert(record.filename);
  std::vector<CaptureRecord> list = records_;
  std::vector<fs::path> placed, left;
  size_t moved = 0;
  try {
    for (CaptureRecord& record : list) {
      const fs::path from = url(record);
      if (folderPath(from.parent_path()) == target) continue;
      taken.erase(record.filename);
      const std::string name = nameInFolder(record.filename, target, taken);
      taken.insert(name);
      if (pathExists(from)) {
        placeCopy(from, target / name);
        placed.push_back(target / name);
        left.push_back(from);
      }
      record.filename = name;
      record.folder = chosen ? std::optional(chosen->string()) : std::nullopt;
      ++moved;
    }
    syncFolder(target);
    commit(std::move(list));
  } catch (...) {
    // Nothing left its folder yet: the copies go and every record stays.
    for (const fs::path& copy : placed) ::unlink(copy.c_str());
    throw;
  }
  // The index names the new files; an old one that cannot go is only a
  // copy no record uses.
  for (const fs::path& file : left) ::unlink(file.c_str());
  saveFolder_ = chosen;
  return moved;
}

namespace {

std::optional<std::string> searchText(std::string_view text) {
  if (text.empty()) return std::nullopt;
  return recordText(text, ScreenshotStore::maximumSearchTextSize);
}

}  // namespace

void ScreenshotStore::markStaged(std::string_view id, std::string_view destination, std::string_view status,
                                 std::string_view message) {
  const FileDescriptor lock = lockAndReload();
  const size_t index = indexOf(id);
  std::vector<CaptureRecord> list = records_;
  list[index].destination = recordText(destination);
  list[index].deliveryStatus = recordText(status);
  list[index].message = searchText(message);
  commit(std::move(list));
}

void ScreenshotStore::noteRecognizedText(std::string_view id, std::string_view text) {
  const FileDescriptor lock = lockAndReload();
  const size_t index = indexOf(id);
  std::optional<std::string> recognized = searchText(text);
  if (records_[index].recognizedText == recognized) return;
  std::vector<CaptureRecord> list = records_;
  list[index].recognizedText = std::move(recognized);
  commit(std::move(list));
}

void ScreenshotStore::remove(std::string_view id) { remove(std::vector<std::string>{std::string(id)}); }

void ScreenshotStore::remove(const std::vector<std::string>& ids) {
  const FileDescriptor lock = lockAndReload();
  removeLocked(ids);
}

void ScreenshotStore::removeLocked(const std::vector<std::string>& ids) {
  std::vector<bool> removed(records_.size(), false);
  for (const std::string& id : ids) removed[indexOf(id)] = true;
  // Every image gets its hidden second name first: one that cannot be
  // removed stops the change before the index does.
  std::vector<Removal> removals;
  std::vector<CaptureRecord> list;
  try {
    for (size_t i = 0; i < records_.size(); ++i) {
      if (removed[i]) {
        removals.push_back(prepareRemoval(url(records_[i]).parent_path(), records_[i]));
      } else {
        list.push_back(records_[i]);
      }
    }
  } catch (...) {
    for (const Removal& removal : removals) undoRemoval(removal);
    throw;
  }
  if (removals.empty()) return;
  if (const std::exception_ptr failure = commitRemovals(removals, [&] { commit(std::move(list)); }))
    std::rethrow_exception(failure);
}

std::vector<std::string> ScreenshotStore::expired(const std::vector<CaptureRecord>& records,
                                                  const Retention& retention, Date now) {
  std::vector<std::string> ids;
  for (size_t i = 0; i < records.size(); ++i) {
    const bool old =
        retention.kind == Retention::Kind::days
            ? records[i].createdAt.secondsSinceReferenceDate <
                  now.secondsSinceReferenceDate - retention.count * 86400.0
            : retention.kind == Retention::Kind::captures && i >= static_cast<size_t>(retention.count);
    if (old) ids.push_back(records[i].id);
  }
  return ids;
}

size_t ScreenshotStore::applyRetention(const Retention& retention, Date now) {
  if (retention.kind == Retention::Kind::keepAll) return 0;
  const FileDescriptor lock = lockAndReload();
  const std::vector<std::string> ids = expired(records_, retention, now);
  removeLocked(ids);
  return ids.size();
}

std::optional<Retention> Retention::decoded(std::string_view text) {
  if (text == "all") return Retention{};
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view kind = text.substr(0, colon), number = text.substr(colon + 1);
  int count = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), count);
  if (error != std::errc() || end != number.data() + number.size() || count < 1 || count > maximumCount)
    return std::nullopt;
  if (kind == "days") return Retention{Kind::days, count};
  if (kind == "captures") return Retention{Kind::captures, count};
  return std::nullopt;
}

std::string Retention::encoded() const {
  switch (kind) {
    case Kind::days:
      return "days:" + std::to_string(count);
    case Kind::captures:
      return "captures:" + std::to_string(count);
    case Kind::keepAll:
      break;
  }
  return "all";
}

void ScreenshotStore::deleteAll() {
  // As removing the captures one by one, newest first, up to the first that
  // cannot be removed, but with a single index write: a long history is
  // emptied in one step instead of being rewritten once per capture.
  const FileDescriptor lock = lockAndReload();
  std::vector<Removal> removals;
  std::exception_ptr failure;
  for (const CaptureRecord& record : records_) {
    try {
      removals.push_back(prepareRemoval(url(record).parent_path(), record));
    } catch (...) {
      failure = std::current_exception();
      break;
    }
  }
  if (!removals.empty()) {
    const std::exception_ptr unfinished = commitRemovals(removals, [&] {
      commit(std::vector<CaptureRecord>(records_.begin() + static_cast<std::ptrdiff_t>(removals.size()),
                                        records_.end()));
    });
    if (!failure) failure = unfinished;
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace lumacap
