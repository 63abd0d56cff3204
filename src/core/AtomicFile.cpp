#include "core/AtomicFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace fs = std::filesystem;

namespace lumacap {
namespace {

void writeAll(int fd, std::string_view bytes, const fs::path& path) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throwSystemError(errno, "Could not write", path);
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

FileIdentity identityOf(const struct stat& info) {
  return {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

std::string sizeText(size_t bytes) {
  if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

std::string randomSuffix() {
  uint64_t value = 0;
  if (::getrandom(&value, sizeof value, 0) != sizeof value) value ^= static_cast<uint64_t>(::getpid()) << 20;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

bool hardLinksUnsupported(int error) { return error == EPERM || error == EOPNOTSUPP || error == ENOTSUP; }

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

FileError::FileError(const fs::path& file, const std::string& problem)
    : std::runtime_error(file.string() + ": " + problem), problem_(problem) {}

bool FileIdentity::operator==(const FileIdentity& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

std::string readUpTo(int fd, size_t maximumSize, const fs::path& name) {
  std::string content;
  char buffer[65536];
  while (content.size() <= maximumSize) {
    const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, maximumSize + 1 - content.size()));
    if (got < 0) {
      if (errno == EINTR) continue;
      throwSystemError(errno, "Could not read", name);
    }
    if (got == 0) break;
    content.append(buffer, static_cast<size_t>(got));
  }
  return content;
}

namespace {

enum class Links { follow, refuse };

std::optional<FileSnapshot> readRegular(const fs::path& file, size_t maximumSize, Links links, bool ownOnly) {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer forever.
  const int noFollow = links == Links::refuse ? O_NOFOLLOW : 0;
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | noFollow));
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP && noFollow) throw FileError(file, "a link, which Lumacap does not follow here");
    throwSystemError(errno, "Could not open", file);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) throwSystemError(errno, "Could not read", file);
  if (!S_ISREG(info.st_mode)) throw FileError(file, "not a regular file");
  if (ownOnly && info.st_uid != ::geteuid()) throw FileError(file, "belongs to another user");
  const std::string tooLarge = "larger than " + sizeText(maximumSize);
  if (static_cast<uintmax_t>(info.st_size) > maximumSize) throw FileError(file, tooLarge);
  FileSnapshot snapshot{readUpTo(fd.get(), maximumSize, file), identityOf(info), info.st_mode & 07777};
  if (snapshot.bytes.size() > maximumSize) throw FileError(file, tooLarge);
  return snapshot;
}

}  // namespace

std::optional<FileSnapshot> readRegularFile(const fs::path& file, size_t maximumSize) {
  return readRegular(file, maximumSize, Links::follow, false);
}

std::string readOwnRegularFile(const fs::path& file, size_t maximumSize) {
  std::optional<FileSnapshot> snapshot = readRegular(file, maximumSize, Links::refuse, true);
  if (!snapshot) throw FileError(file, "no longer exists");
  return std::move(snapshot->bytes);
}

fs::path resolveLinks(const fs::path& path) {
  fs::path resolved = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(resolved, error))) return resolved;
    const fs::path next = fs::read_symlink(resolved, error);
    if (error) return resolved;
    resolved = next.is_absolute() ? next : resolved.parent_path() / next;
  }
  return resolved;
}

PendingFile::PendingFile(int folder, std::string name, std::string_view bytes, Durability durability,
                         fs::path path)
    : folder_(::fcntl(folder, F_DUPFD_CLOEXEC, 0)), name_(std::move(name)), path_(std::move(path)) {
  if (folder_.get() < 0) throwSystemError(errno, "Could not open the folder of", path_);
  createTemporary(bytes, durability, 0600);
}

PendingFile::PendingFile(const fs::path& file, std::string_view bytes, Durability durability,
                         mode_t permissions)
    : name_(file.filename().string()), path_(file) {
  const fs::path folder = file.parent_path().empty() ? "." : file.parent_path();
  folder_.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder_.get() < 0) throwSystemError(errno, "Could not open the folder", folder);
  createTemporary(bytes, durability, permissions);
}

PendingFile::~PendingFile() {
  if (!temporary_.empty()) ::unlinkat(folder_.get(), temporary_.c_str(), 0);
}

void PendingFile::createTemporary(std::string_view bytes, Durability durability, mode_t permissions) {
  FileDescriptor fd;
  for (int attempt = 0; fd.get() < 0; ++attempt) {
    temporary_ = "." + name_ + "." + randomSuffix();
    fd.reset(::openat(folder_.get(), temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600));
    if (fd.get() < 0 && (errno != EEXIST || attempt == 100)) {
      temporary_.clear();
      throwSystemError(errno, "Could not create a temporary file for", path_);
    }
  }
  try {
    writeAll(fd.get(), bytes, path_);
    // The mode is set before the file gets its name: nobody ever sees it wider.
    if (::fchmod(fd.get(), permissions) != 0) throwSystemError(errno, "Could not set permissions of", path_);
    if (durability == Durability::flushed && ::fsync(fd.get()) != 0) {
      throwSystemError(errno, "Could not flush", path_);
    }
    if (::close(fd.release()) != 0) throwSystemError(errno, "Could not close", path_);
  } catch (...) {
    ::unlinkat(folder_.get(), temporary_.c_str(), 0);
    temporary_.clear();
    throw;
  }
}

void PendingFile::replace() {
  if (::renameat(folder_.get(), temporary_.c_str(), folder_.get(), name_.c_str()) != 0) {
    throwSystemError(errno, "Could not replace", path_);
  }
  temporary_.clear();
}

void PendingFile::createNew() {
  if (::renameat2(folder_.get(), temporary_.c_str(), folder_.get(), name_.c_str(), RENAME_NOREPLACE) == 0) {
    temporary_.clear();
    return;
  }
  if (errno != EINVAL) throwSystemError(errno, "Could not create", path_);
  // A file system without the no-replace rename: a second name fails just
  // the same when the name is taken.
  if (::linkat(folder_.get(), temporary_.c_str(), folder_.get(), name_.c_str(), 0) == 0) return;
  if (!hardLinksUnsupported(errno)) throwSystemError(errno, "Could not create", path_);
  struct stat info {};
  if (::fstatat(folder_.get(), name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
    throwSystemError(EEXIST, "Could not create", path_);
  }
  replace();
}

bool PendingFile::replaceIfUnchanged(const std::optional<FileIdentity>& expected) {
  if (!expected) {
    try {
      createNew();
      return true;
    } catch (const std::system_error& failure) {
      if (failure.code() == std::errc::file_exists) return false;
      throw;
    }
  }
  // Swapping the two names is one step: what comes out under the temporary
  // name is exactly the version the new file replaced, so checking it after
  // the swap leaves no moment for another writer's change to get lost.
  // A look first keeps the new version from showing at all in the common
  // case of a change long before.
  const int folder = folder_.get();
  struct stat current {};
  if (::fstatat(folder, name_.c_str(), &current, AT_SYMLINK_NOFOLLOW) != 0 ||
      !(identityOf(current) == *expected)) {
    return false;
  }
  if (::renameat2(folder, temporary_.c_str(), folder, name_.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno == ENOENT) return false;
    if (errno != EINVAL) throwSystemError(errno, "Could not replace", path_);
    replace();  // a file system without the exchange: the look above must do
    return true;
  }
  struct stat displaced {};
  if (::fstatat(folder, temporary_.c_str(), &displaced, AT_SYMLINK_NOFOLLOW) == 0 &&
      identityOf(displaced) == *expected) {
    return true;  // the destructor removes the old version
  }
  // Another writer got there first: its version goes back in place.
  if (::renameat2(folder, temporary_.c_str(), folder, name_.c_str(), RENAME_EXCHANGE) != 0) {
    throwSystemError(errno, "Could not restore", path_);
  }
  return false;
}

void PendingFile::syncFolder() const { ::fsync(folder_.get()); }

void syncFolder(const fs::path& folder) {
  FileDescriptor fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

void writeNewPrivateFile(const fs::path& file, std::string_view bytes) {
  PendingFile(file, bytes, Durability::flushed).createNew();
}

void throwSystemError(int error, const std::string& what, const fs::path& path) {
  throw std::system_error(error, std::generic_category(), what + " “" + path.string() + "”");
}

void writeFileAtomically(const fs::path& requested, std::string_view bytes, Durability durability) {
  PendingFile file(resolveLinks(requested), bytes, durability);
  file.replace();
  if (durability == Durability::flushed) file.syncFolder();
}

// The process's umask, read without changing it (Linux 4.7 and later show it
// in /proc), else by setting and restoring it.
mode_t currentUmask() {
  try {
    const std::string status = readWholeFile("/proc/self/status");
    if (const size_t at = status.find("\nUmask:"); at != std::string::npos)
      return static_cast<mode_t>(std::stoul(status.substr(at + 7), nullptr, 8));
  } catch (const std::exception&) {
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

void writeUserFileAtomically(const fs::path& requested, std::string_view bytes) {
  const fs::path target = resolveLinks(requested);
  writeFileAtomically(target, bytes);
  if (::chmod(target.c_str(), 0666 & ~currentUmask()) != 0)
    throwSystemError(errno, "Could not set permissions of", target);
}

void createPrivateDirectories(const fs::path& folder) {
  if (folder.empty()) return;
  std::error_code error;
  if (fs::is_directory(folder, error)) return;
  createPrivateDirectories(folder.parent_path());
  if (::mkdir(folder.c_str(), 0700) != 0) {
    if (errno == EEXIST && fs::is_directory(folder, error)) return;
    throwSystemError(errno, "Could not create the folder", folder);
  }
  // mkdir applies the umask; make sure the folder is private whatever it is.
  if (::chmod(folder.c_str(), 0700) != 0) throwSystemError(errno, "Could not set permissions of", folder);
}

namespace {

FileDescriptor openLockFile(const fs::path& lockFile) {
  FileDescriptor lock(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (lock.get() < 0 && errno == EISDIR)
    lock.reset(::open(lockFile.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (lock.get() < 0) throwSystemError(errno, "Could not open", lockFile);
  return lock;
}

}  // namespace

FileDescriptor lockExclusively(const fs::path& lockFile, const fs::path& subject) {
  FileDescriptor lock = openLockFile(lockFile);
  for (int attempt = 0; ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0; ++attempt) {
    if (errno != EWOULDBLOCK && errno != EINTR) throwSystemError(errno, "Could not lock", lockFile);
    if (attempt == 500)
      throw FileError(subject, "another Lumacap has been editing it for 5 s; nothing was written");
    ::usleep(10000);
  }
  return lock;
}

std::optional<FileDescriptor> tryLockExclusively(const fs::path& lockFile) {
  FileDescriptor lock = openLockFile(lockFile);
  while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return std::nullopt;
    if (errno != EINTR) throwSystemError(errno, "Could not lock", lockFile);
  }
  return lock;
}

std::string readWholeFile(const fs::path& file) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throwSystemError(errno, "Could not open", file);
  return readUpTo(fd.get(), SIZE_MAX - 1, file);
}

}  // namespace lumacap
