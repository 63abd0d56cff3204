#pragma once

#include <cstddef>
#include <string>

namespace lumacap {

// A connection to a Unix stream socket for one request and its answer, as a
// compositor's IPC takes them. Every wait for the answer is bounded, and every
// failure throws a one-line std::runtime_error naming the peer (for example
// "sway's IPC socket").
class UnixSocket {
 public:
  // Throws when nothing listens at `path`.
  UnixSocket(const std::string& path, std::string peer);
  ~UnixSocket();
  UnixSocket(UnixSocket&& other) noexcept;
  UnixSocket(const UnixSocket&) = delete;
  UnixSocket& operator=(const UnixSocket&) = delete;
  UnixSocket& operator=(UnixSocket&&) = delete;

  void write(const std::string& bytes);
  // Exactly `size` bytes.
  std::string read(size_t size);
  // Everything until the peer closes the connection.
  std::string readToEnd();

 private:
  [[noreturn]] void lost() const;
  // Waits until there is something to read; then one recv of at most `size`
  // bytes into `buffer`, 0 when the peer closed.
  size_t receive(char* buffer, size_t size);

  int file_;
  std::string peer_;
};

}  // namespace lumacap
