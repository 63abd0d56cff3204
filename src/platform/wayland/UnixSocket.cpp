#include "platform/wayland/UnixSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace lumacap {

const char* IpcError::description(Kind kind) {
  switch (kind) {
    case Kind::unreachable:
      return "Lumacap cannot reach the compositor's IPC socket. Check that the compositor is running, then "
             "try "
             "again.";
    case Kind::untrustedSocket:
      return "Lumacap did not use the compositor's IPC socket: it is neither in your runtime folder nor in a "
             "folder only you can change.";
    case Kind::otherUser:
      return "Lumacap did not use the compositor's IPC socket: a program of another user listens on it.";
    case Kind::timedOut:
      return "The compositor did not answer Lumacap in time. Try again.";
    case Kind::tooLarge:
      return "The compositor's answer was larger than Lumacap accepts.";
    case Kind::unreadable:
      return "The compositor's answer was cut short or could not be read. Try again.";
  }
  return "";
}

UnixSocket::UnixSocket(const std::string& path, const IpcBounds& bounds)
    : file_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)),
      deadline_(std::chrono::steady_clock::now() + bounds.deadline),
      room_(bounds.maximumAnswer) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const bool fits = !path.empty() && path.size() < sizeof address.sun_path;
  if (fits) std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ucred peer{};
  socklen_t size = sizeof peer;
  // A listener whose queue is full refuses at once (EAGAIN) rather than holding us.
  if (file_ < 0 || !fits ||
      ::connect(file_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (file_ >= 0) ::close(file_);
    throw IpcError(IpcError::Kind::unreachable);
  }
  if (::getsockopt(file_, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != bounds.user) {
    ::close(file_);
    throw IpcError(IpcError::Kind::otherUser);
  }
}

UnixSocket::~UnixSocket() {
  if (file_ >= 0) ::close(file_);
}

UnixSocket::UnixSocket(UnixSocket&& other) noexcept
    : file_(other.file_), deadline_(other.deadline_), room_(other.room_) {
  other.file_ = -1;
}

void UnixSocket::await(short events) const {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw IpcError(IpcError::Kind::timedOut);
    pollfd ready{file_, events, 0};
    const int polled = ::poll(&ready, 1, int(left.count()));
    if (polled > 0) return;
    if (polled < 0 && errno != EINTR) throw IpcError(IpcError::Kind::unreadable);
  }
}

void UnixSocket::write(const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t count = ::send(file_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      await(POLLOUT);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) throw IpcError(IpcError::Kind::unreadable);
    sent += size_t(count);
  }
}

size_t UnixSocket::receive(char* buffer, size_t size) {
  for (;;) {
    const ssize_t count = ::recv(file_, buffer, size, 0);
    if (count >= 0) return size_t(count);
    if (errno == EAGAIN || errno == EWOULDBLOCK)
      await(POLLIN);
    else if (errno != EINTR)
      throw IpcError(IpcError::Kind::unreadable);
  }
}

std::string UnixSocket::read(size_t size) {
  if (size > room_) throw IpcError(IpcError::Kind::tooLarge);
  room_ -= size;
  std::string bytes(size, '\0');
  for (size_t got = 0; got < size;) {
    const size_t count = receive(bytes.data() + got, size - got);
    if (count == 0) throw IpcError(IpcError::Kind::unreadable);
    got += count;
  }
  return bytes;
}

std::string UnixSocket::readToEnd() {
  std::string bytes;
  char buffer[16384];
  while (const size_t count = receive(buffer, sizeof buffer)) {
    if (count > room_) throw IpcError(IpcError::Kind::tooLarge);
    room_ -= count;
    bytes.append(buffer, count);
  }
  return bytes;
}

namespace {

bool usersOwn(const std::string& path, uid_t user, bool (*isKind)(mode_t), mode_t othersMayNot) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && isKind(status.st_mode) && status.st_uid == user &&
         (status.st_mode & othersMayNot) == 0;
}
bool isFolder(mode_t mode) { return S_ISDIR(mode); }
bool isSocket(mode_t mode) { return S_ISSOCK(mode); }

// `path` relative to `folder` when it lies inside it, nothing otherwise.
std::filesystem::path inside(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.empty() || path.front() != '/') return {};
  const auto relative = std::filesystem::path(path).lexically_normal().lexically_relative(
      std::filesystem::path(folder).lexically_normal());
  if (relative.empty() || *relative.begin() == ".." || relative == ".") return {};
  return relative;
}

}  // namespace

bool inRuntimeFolder(const std::string& path, const std::string& runtimeFolder, uid_t user) {
  struct stat status {};
  return !inside(path, runtimeFolder).empty() && ::stat(runtimeFolder.c_str(), &status) == 0 &&
         S_ISDIR(status.st_mode) && status.st_uid == user && (status.st_mode & 077) == 0;
}

bool inOwnFolders(const std::string& path, const std::string& top, uid_t user) {
  const std::filesystem::path relative = inside(path, top);
  if (relative.empty()) return false;
  std::filesystem::path folder = std::filesystem::path(top).lexically_normal();
  for (const auto& part : relative.parent_path()) {
    if (!usersOwn(folder.string(), user, isFolder, S_IWGRP | S_IWOTH)) return false;
    folder /= part;
  }
  return usersOwn(folder.string(), user, isFolder, S_IWGRP | S_IWOTH) && usersOwn(path, user, isSocket, 0);
}

}  // namespace lumacap
