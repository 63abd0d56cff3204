#include "platform/wayland/SwayWindowList.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace lumacap {
namespace {

constexpr uint32_t runCommand = 0;
constexpr uint32_t getOutputs = 3;
constexpr uint32_t getTree = 4;
constexpr char magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr size_t headerSize = sizeof magic + 2 * sizeof(uint32_t);
constexpr int answerTimeoutMs = 3000;

[[noreturn]] void lost() { throw std::runtime_error("sway's IPC socket stopped answering."); }

class Socket {
 public:
  explicit Socket(const std::string& path) : file_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (file_ < 0 || path.empty() || path.size() >= sizeof address.sun_path)
      throw std::runtime_error("sway's IPC socket is not set ($SWAYSOCK).");
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::connect(file_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("Lumacap cannot reach sway's IPC socket " + path + ".");
  }
  ~Socket() {
    if (file_ >= 0) ::close(file_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  void write(const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
      const ssize_t count = ::send(file_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) lost();
      sent += size_t(count);
    }
  }
  std::string read(size_t size) {
    std::string bytes(size, '\0');
    for (size_t got = 0; got < size;) {
      pollfd ready{file_, POLLIN, 0};
      if (::poll(&ready, 1, answerTimeoutMs) <= 0) lost();
      const ssize_t count = ::recv(file_, bytes.data() + got, size - got, 0);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) lost();
      got += size_t(count);
    }
    return bytes;
  }

 private:
  int file_;
};

}  // namespace

std::string SwayWindowList::exchange(uint32_t type, const std::string& payload) {
  Socket socket(socketPath_);
  std::string message(magic, sizeof magic);
  const uint32_t header[2] = {static_cast<uint32_t>(payload.size()), type};
  message.append(reinterpret_cast<const char*>(header), sizeof header);
  socket.write(message + payload);
  const std::string answerHeader = socket.read(headerSize);
  uint32_t answer[2];
  std::memcpy(answer, answerHeader.data() + sizeof magic, sizeof answer);
  if (answerHeader.compare(0, sizeof magic, magic, sizeof magic) != 0 || answer[1] != type)
    throw std::runtime_error("sway's IPC socket answered something Lumacap cannot read.");
  return socket.read(answer[0]);
}

std::vector<CompositorWindow> SwayWindowList::windows() { return parseSwayTree(exchange(getTree, {})); }

bool SwayWindowList::activate(const CompositorWindow& window) {
  return swayCommandSucceeded(exchange(runCommand, "[con_id=" + window.handle + "] focus"));
}

std::optional<std::string> SwayWindowList::activeOutputName() {
  try {
    return swayFocusedOutput(exchange(getOutputs, {}));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace lumacap
