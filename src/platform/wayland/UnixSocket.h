#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <string>

#include "core/ProgramError.h"

namespace lumacap {

enum class IpcErrorKind { unreachable, untrustedSocket, otherUser, timedOut, tooLarge, unreadable };

// Why an exchange with a compositor's IPC socket failed, each with the sentence the user sees.
class IpcError : public KindedError<IpcErrorKind> {
 public:
  explicit IpcError(Kind kind) : KindedError(kind, description(kind)) {}
  static const char* description(Kind kind);
};

// The bounds of one request and its answer.
struct IpcBounds {
  // From connecting to the answer's last byte: a compositor answers at once.
  std::chrono::milliseconds deadline{3000};
  // The most the answer may hold (a window tree of hundreds of windows is well below).
  size_t maximumAnswer = size_t(8) << 20;
  // The user whose compositor is asked: its socket, its folders and its listener must be theirs.
  uid_t user = ::geteuid();
};

// A connection to a compositor's Unix stream socket for one request and its
// answer, within `bounds`, to a listener of `bounds.user` (SO_PEERCRED).
// Every failure throws an IpcError.
class UnixSocket {
 public:
  // Throws when nothing listens at `path` or another user's program does.
  explicit UnixSocket(const std::string& path, const IpcBounds& bounds = {});
  ~UnixSocket();
  UnixSocket(UnixSocket&& other) noexcept;
  UnixSocket(const UnixSocket&) = delete;
  UnixSocket& operator=(const UnixSocket&) = delete;
  UnixSocket& operator=(UnixSocket&&) = delete;

  void write(const std::string& bytes);
  // Exactly `size` bytes; refused before anything is allocated when the
  // answer would grow past its bound.
  std::string read(size_t size);
  // Everything until the peer closes the connection.
  std::string readToEnd();

 private:
  // Waits, until the deadline, for `events` on the socket.
  void await(short events) const;
  // One recv of at most `size` bytes into `buffer` once there is something
  // to read, 0 when the peer closed.
  size_t receive(char* buffer, size_t size);

  int file_;
  std::chrono::steady_clock::time_point deadline_;
  size_t room_;  // what the answer may still hold
};

// Whether the socket at `path` lies in the runtime folder ($XDG_RUNTIME_DIR)
// of `user`, itself a folder of theirs that nobody else may enter.
bool inRuntimeFolder(const std::string& path, const std::string& runtimeFolder, uid_t user = ::geteuid());
// Whether `path` is a socket of `user` in folders, from `top` down, that are
// theirs and that nobody else may write to.
bool inOwnFolders(const std::string& path, const std::string& top, uid_t user = ::geteuid());

}  // namespace lumacap
