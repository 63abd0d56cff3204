#include "platform/wayland/UnixSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace lumacap {
namespace {

// A compositor answers at once; one that takes longer is stuck.
constexpr int socketAnswerTimeoutMs = 3000;

}  // namespace

UnixSocket::UnixSocket(const std::string& path, std::string peer)
    : file_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)), peer_(std::move(peer)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const bool fits = !path.empty() && path.size() < sizeof address.sun_path;
  if (fits) std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (file_ < 0 || !fits ||
      ::connect(file_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (file_ >= 0) ::close(file_);
    throw std::runtime_error("Lumacap cannot reach " + peer_ + " " + path + ".");
  }
}

UnixSocket::~UnixSocket() {
  if (file_ >= 0) ::close(file_);
}

UnixSocket::UnixSocket(UnixSocket&& other) noexcept : file_(other.file_), peer_(std::move(other.peer_)) {
  other.file_ = -1;
}

void UnixSocket::lost() const { throw std::runtime_error(peer_ + " stopped answering."); }

void UnixSocket::write(const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t count = ::send(file_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) lost();
    sent += size_t(count);
  }
}

size_t UnixSocket::receive(char* buffer, size_t size) {
  for (;;) {
    pollfd ready{file_, POLLIN, 0};
    const int polled = ::poll(&ready, 1, socketAnswerTimeoutMs);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) lost();
    const ssize_t count = ::recv(file_, buffer, size, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) lost();
    return size_t(count);
  }
}

std::string UnixSocket::read(size_t size) {
  std::string bytes(size, '\0');
  for (size_t got = 0; got < size;) {
    const size_t count = receive(bytes.data() + got, size - got);
    if (count == 0) lost();
    got += count;
  }
  return bytes;
}

std::string UnixSocket::readToEnd() {
  std::string bytes;
  char buffer[16384];
  while (const size_t count = receive(buffer, sizeof buffer)) bytes.append(buffer, count);
  return bytes;
}

}  // namespace lumacap
