#pragma once

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace lumacap {

// Whether a replaced file must also survive a power cut (flushed to disk
// before the rename), or only ever be seen whole by readers.
enum class Durability { flushed, atomicOnly };

// An open file descriptor, closed when the object goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    reset(other.release());
    return *this;
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1);

 private:
  int fd_;
};

// A file that cannot be used as it is. The message is one line: the file,
// then what is wrong with it.
class FileError : public std::runtime_error {
 public:
  FileError(const std::filesystem::path& file, const std::string& problem);
  const std::string& problem() const { return problem_; }

 private:
  std::string problem_;
};

// What identifies one version of a file: another writer that replaced or
// changed it changes at least one of these.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  bool operator==(const FileIdentity& other) const;
};

struct FileSnapshot {
  std::string bytes;
  FileIdentity identity;
  mode_t permissions = 0600;  // the mode's permission bits
};

// Reads a regular file of at most `maximumSize` bytes, following links,
// without blocking on special files. Nothing when there is no such file;
// throws FileError for a file that is not regular or is too large, and
// std::system_error naming the path for other failures.
std::optional<FileSnapshot> readRegularFile(const std::filesystem::path& file, size_t maximumSize);

// Reads a regular file of at most `maximumSize` bytes that belongs to the
// user, without following a link at its name and without blocking on special
// files: a file of the user's own folders that someone may have swapped.
// Throws FileError (a missing file included) or std::system_error naming the
// path.
std::string readOwnRegularFile(const std::filesystem::path& file, size_t maximumSize);

// Reads at most `maximumSize` + 1 bytes from an open file.
std::string readUpTo(int fd, size_t maximumSize, const std::filesystem::path& name);

// The path a chain of symbolic links ends at (the path itself if it is none).
std::filesystem::path resolveLinks(const std::filesystem::path& path);

// The next version of a file: written whole, with mode 0600 (or the one
// given), to a hidden
// temporary name in the file's folder, then put in place by one rename
// inside that folder. Until then the temporary file is removed when the
// object goes, so a failure leaves nothing behind; a killed process leaves
// at most the hidden temporary file, never a partial file under the name.
class PendingFile {
 public:
  // `folder` is an open folder that the name is relative to; `path` names
  // the file in messages.
  PendingFile(int folder, std::string name, std::string_view bytes, Durability durability,
              std::filesystem::path path);
  PendingFile(const std::filesystem::path& file, std::string_view bytes, Durability durability,
              mode_t permissions = 0600);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Replaces whatever has the name, a link included (never its target).
  void replace();
  // Takes the name only while nothing has it; throws std::system_error
  // (EEXIST) otherwise.
  void createNew();
  // Replaces the file only when it is still the version `expected`
  // identifies (nothing: no file). False, with nothing changed, otherwise.
  bool replaceIfUnchanged(const std::optional<FileIdentity>& expected);
  // Flushes the folder's entries to disk.
  void syncFolder() const;

 private:
  void createTemporary(std::string_view bytes, Durability durability, mode_t permissions);
  FileDescriptor folder_;
  std::string name_;
  std::string temporary_;
  std::filesystem::path path_;
};

// Replaces `target` with `bytes` as one step: a reader sees the old or the
// new content, never a mix. The file ends with mode 0600. When `target` is a
// symbolic link, the file it points to is replaced and the link stays.
// Throws std::system_error naming the path.
void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         Durability durability = Durability::flushed);

// The same for a file that is the user's own copy (an export): it ends with
// the mode the user's other new files get, 0666 less the umask.
void writeUserFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// Creates `file` with `bytes`, mode 0600, failing when the name is already
// taken: an existing file is never replaced. The bytes are on disk before
// the name appears.
void writeNewPrivateFile(const std::filesystem::path& file, std::string_view bytes);

// Flushes a folder's entries (a created, renamed or removed name) to disk.
// Best effort: a folder that cannot be opened is left alone.
void syncFolder(const std::filesystem::path& folder);

// Creates `folder` and any missing parents; folders created here get mode 0700,
// existing ones keep theirs. Throws std::system_error naming the path.
void createPrivateDirectories(const std::filesystem::path& folder);

// An exclusive advisory lock (flock) on `lockFile`, created 0600 when
// missing, or on a folder, held until the descriptor closes. Waits up to 5 s for another
// holder, then throws FileError naming `subject`; throws std::system_error
// when the lock file cannot be opened.
FileDescriptor lockExclusively(const std::filesystem::path& lockFile, const std::filesystem::path& subject);

// The same lock without waiting: nothing while another holds it.
std::optional<FileDescriptor> tryLockExclusively(const std::filesystem::path& lockFile);

// Reads a whole file. Throws std::system_error naming the path.
std::string readWholeFile(const std::filesystem::path& file);

// Whether a link(2) or linkat(2) failed with `error` because the file system
// has no hard links (FAT, some network shares), rather than for another reason.
bool hardLinksUnsupported(int error);

// A std::system_error for errno whose text names the path.
[[noreturn]] void throwSystemError(int error, const std::string& what, const std::filesystem::path& path);

}  // namespace lumacap
