#include "platform/wayland/HyprlandWindowList.h"

#include <exception>
#include <filesystem>

namespace lumacap {
namespace {

std::string socketIn(const std::string& folder, const std::string& signature) {
  return folder + "/hypr/" + signature + "/.socket.sock";
}

}  // namespace

HyprlandWindowList::HyprlandWindowList(const std::string& runtimeDirectory, const std::string& signature,
                                       IpcBounds bounds)
    : runtimeDirectory_(runtimeDirectory),
      runtimeSocket_(runtimeDirectory.empty() ? std::string() : socketIn(runtimeDirectory, signature)),
      temporarySocket_(socketIn("/tmp", signature)),
      bounds_(bounds) {}

std::string HyprlandWindowList::request(const std::string& command) const {
  std::error_code unused;
  const bool runtime = !runtimeSocket_.empty() && std::filesystem::exists(runtimeSocket_, unused);
  if (runtime ? !inRuntimeFolder(runtimeSocket_, runtimeDirectory_, bounds_.user)
              : std::filesystem::exists(temporarySocket_, unused) &&
                    !inOwnFolders(temporarySocket_, "/tmp/hypr", bounds_.user))
    throw IpcError(IpcError::Kind::untrustedSocket);
  UnixSocket socket(runtime ? runtimeSocket_ : temporarySocket_, bounds_);
  socket.write(command);
  return socket.readToEnd();
}

std::vector<CompositorWindow> HyprlandWindowList::windows() {
  const std::string clients = request("j/clients");
  return parseHyprlandClients(clients, request("j/monitors"));
}

bool HyprlandWindowList::activate(const CompositorWindow& window) {
  return request("dispatch focuswindow address:" + window.handle) == "ok";
}

std::optional<std::string> HyprlandWindowList::activeOutputName() {
  try {
    return focusedOutputName(request("j/monitors"));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace lumacap
