#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace lumacap {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

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

fs::path resolveLinks(const fs::path& target) {
  fs::path resolved = target;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(resolved, error))) return resolved;
    const fs::path next = fs::read_symlink(resolved, error);
    if (error) return resolved;
    resolved = next.is_absolute() ? next : resolved.parent_path() / next;
  }
  return resolved;
}

}  // namespace

void syncFolder(const fs::path& folder) {
  FileDescriptor fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

void writeNewPrivateFile(const fs::path& file, std::string_view bytes) {
  FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) throwSystemError(errno, "Could not create", file);
  try {
    writeAll(fd.get(), bytes, file);
    if (::fchmod(fd.get(), 0600) != 0) throwSystemError(errno, "Could not set permissions of", file);
    if (::fsync(fd.get()) != 0) throwSystemError(errno, "Could not flush", file);
    if (::close(fd.release()) != 0) throwSystemError(errno, "Could not close", file);
  } catch (...) {
    ::unlink(file.c_str());
    throw;
  }
}

void throwSystemError(int error, const std::string& what, const fs::path& path) {
  throw std::system_error(error, std::generic_category(), what + " “" + path.string() + "”");
}

void writeFileAtomically(const fs::path& requested, std::string_view bytes, Durability durability) {
  const fs::path target = resolveLinks(requested);
  const fs::path folder = target.parent_path();
  std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');

  FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.get() < 0) throwSystemError(errno, "Could not create a temporary file for", target);
  const fs::path temporary(name.data());
  try {
    writeAll(fd.get(), bytes, temporary);
    if (::fchmod(fd.get(), 0600) != 0) throwSystemError(errno, "Could not set permissions of", temporary);
    if (durability == Durability::flushed && ::fsync(fd.get()) != 0) {
      throwSystemError(errno, "Could not flush", temporary);
    }
    if (::close(fd.release()) != 0) throwSystemError(errno, "Could not close", temporary);
    if (::rename(temporary.c_str(), target.c_str()) != 0)
      throwSystemError(errno, "Could not replace", target);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  if (durability == Durability::flushed) syncFolder(folder);
  if (::chmod(target.c_str(), 0600) != 0) throwSystemError(errno, "Could not set permissions of", target);
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

std::string readWholeFile(const fs::path& file) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throwSystemError(errno, "Could not open", file);
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      throwSystemError(errno, "Could not read", file);
    }
    if (got == 0) break;
    content.append(buffer, static_cast<size_t>(got));
  }
  return content;
}

}  // namespace lumacap
