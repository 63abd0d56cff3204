#include "platform/wayland/SwayWindowList.h"

#include <cstring>

namespace lumacap {
namespace {

constexpr uint32_t runCommand = 0;
constexpr uint32_t getOutputs = 3;
constexpr uint32_t getTree = 4;
constexpr char magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr size_t headerSize = sizeof magic + 2 * sizeof(uint32_t);

}  // namespace

std::string SwayWindowList::exchange(uint32_t type, const std::string& payload) {
  if (!inRuntimeFolder(socketPath_, runtimeFolder_, bounds_.user))
    throw IpcError(IpcError::Kind::untrustedSocket);
  UnixSocket socket(socketPath_, bounds_);
  std::string message(magic, sizeof magic);
  const uint32_t header[2] = {static_cast<uint32_t>(payload.size()), type};
  message.append(reinterpret_cast<const char*>(header), sizeof header);
  socket.write(message + payload);
  const std::string answerHeader = socket.read(headerSize);
  uint32_t answer[2];
  std::memcpy(answer, answerHeader.data() + sizeof magic, sizeof answer);
  if (answerHeader.compare(0, sizeof magic, magic, sizeof magic) != 0 || answer[1] != type)
    throw IpcError(IpcError::Kind::unreadable);
  return socket.read(answer[0]);  // refused unread when it announces more than its bound
}

std::vector<CompositorWindow> SwayWindowList::windows() { return parseSwayTree(exchange(getTree, {})); }

bool SwayWindowList::activate(const CompositorWindow& window) {
  return swayCommandSucceeded(exchange(runCommand, "[con_id=" + window.handle + "] focus"));
}

std::optional<std::string> SwayWindowList::activeOutputName() {
  try {
    return focusedOutputName(exchange(getOutputs, {}));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace lumacap
