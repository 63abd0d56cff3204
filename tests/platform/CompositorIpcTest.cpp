#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/wayland/CompositorWindowList.h"
#include "platform/wayland/HyprlandWindowList.h"
#include "platform/wayland/SwayWindowList.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

// Hyprland's IPC socket as its documentation describes it: each connection
// takes one request, gets the answer to exactly those bytes ("unknown
// request" to any other), and is closed.
class FakeHyprland {
 public:
  explicit FakeHyprland(const std::filesystem::path& socketPath) : path_(socketPath) {
    std::filesystem::create_directories(path_.parent_path());
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0)
      throw std::runtime_error("cannot listen at " + path_.string());
    server_ = std::thread([this] { serve(); });
  }
  ~FakeHyprland() {
    ::shutdown(listener_, SHUT_RDWR);  // ends the blocked accept
    server_.join();
    ::close(listener_);
    std::filesystem::remove(path_);
  }

  void answer(const std::string& request, const std::string& text) {
    const std::lock_guard lock(mutex_);
    answers_[request] = text;
  }
  std::vector<std::string> requests() {
    const std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void serve() {
    for (int connection; (connection = ::accept(listener_, nullptr, nullptr)) >= 0; ::close(connection)) {
      char buffer[8192];
      const ssize_t size = ::recv(connection, buffer, sizeof buffer, 0);
      std::string reply = "unknown request";
      {
        const std::lock_guard lock(mutex_);
        requests_.emplace_back(buffer, size_t(std::max<ssize_t>(size, 0)));
        if (const auto found = answers_.find(requests_.back()); found != answers_.end())
          reply = found->second;
      }
      ::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
  }

  std::filesystem::path path_;
  int listener_ = -1;
  std::thread server_;
  std::mutex mutex_;
  std::map<std::string, std::string> answers_;
  std::vector<std::string> requests_;
};

// A compositor's IPC socket at `path` served by a process of its own, as `uid` from before it listens
// (SO_PEERCRED names who listened), that reads each request and answers as `serve` does.
class PeerProcess {
 public:
  PeerProcess(const std::filesystem::path& path, const std::function<void(int)>& serve,
              uid_t uid = ::geteuid()) {
    std::filesystem::create_directories(path.parent_path());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int listening[2];
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::pipe(listening) != 0)
      throw std::runtime_error("cannot bind " + path.string());
    process_ = std::make_unique<test::BackgroundProcess>([&] {
      if (uid != ::geteuid() && (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0))
        return 1;
      if (::listen(listener, 8) != 0 || ::write(listening[1], "", 1) != 1) return 1;
      for (int connection; (connection = ::accept(listener, nullptr, nullptr)) >= 0; ::close(connection)) {
        char request[4096];
        if (::recv(connection, request, sizeof request, 0) > 0) serve(connection);
      }
      return 0;
    });
    ::close(listening[1]);
    char ready;
    const bool listens = ::read(listening[0], &ready, 1) == 1;
    ::close(listening[0]);
    ::close(listener);
    if (!listens) throw std::runtime_error("the peer did not listen at " + path.string());
  }

 private:
  std::unique_ptr<test::BackgroundProcess> process_;
};

// The kind of IPC failure `call` ends with; nothing when it succeeds.
template <typename Call>
std::optional<IpcErrorKind> failureOf(Call call) try {
  call();
  return std::nullopt;
} catch (const IpcError& error) {
  return error.kind();
}

constexpr const char* monitors = R"([
  {"id": 0, "name": "DP-1", "focused": false, "activeWorkspace": {"id": 1, "name": "1"}},
  {"id": 1, "name": "HDMI-A-1", "focused": true, "activeWorkspace": {"id": 2, "name": "2"}}])";
constexpr const char* clients = R"([
  {"address": "0x5a01", "mapped": true, "hidden": false, "at": [10, 40], "size": [940, 1030],
   "workspace": {"id": 1, "name": "1"}, "pid": 401, "class": "foot", "title": "agent", "focusHistoryID": 1},
  {"address": "0x5a02", "mapped": true, "hidden": false, "at": [1930, 40], "size": [800, 600],
   "workspace": {"id": 2, "name": "2"}, "pid": 402, "class": "kitty", "title": "~", "focusHistoryID": 0}])";

CompositorWindow withAddress(std::string address) {
  CompositorWindow window;
  window.handle = std::move(address);
  return window;
}

class HyprlandWindowListTest : public ::testing::Test {
 protected:
  ~HyprlandWindowListTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path("/tmp/hypr") / signature, ignored);
    std::filesystem::remove("/tmp/hypr", ignored);  // only when no Hyprland uses it
  }
  std::unique_ptr<FakeHyprland> serveIn(const std::filesystem::path& folder) {
    auto hyprland = std::make_unique<FakeHyprland>(folder / "hypr" / signature / ".socket.sock");
    hyprland->answer("j/clients", clients);
    hyprland->answer("j/monitors", monitors);
    hyprland->answer("dispatch focuswindow address:0x5a01", "ok");
    return hyprland;
  }

  test::TempDir runtime;
  const std::string signature = "lumacap-test-" + std::to_string(::getpid());
  HyprlandWindowList list{runtime.path().string(), signature};
};

TEST_F(HyprlandWindowListTest, listsTheClientsOnTheMonitorsWorkspacesFromTheRuntimeSocket) {
  const auto hyprland = serveIn(runtime.path());
  const std::vector<CompositorWindow> windows = list.windows();
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0],
            (CompositorWindow{"0x5a02", 402, "kitty", "~", Rect{1930, 40, 800, 600}, true, true}));
  EXPECT_EQ(windows[1].handle, "0x5a01");
  std::vector<std::string> requests = hyprland->requests();
  std::sort(requests.begin(), requests.end());
  EXPECT_EQ(requests, (std::vector<std::string>{"j/clients", "j/monitors"}));
  EXPECT_EQ(list.activeOutputName(), "HDMI-A-1");
}

TEST_F(HyprlandWindowListTest, activatesByAddressAndReportsARefusal) {
  const auto hyprland = serveIn(runtime.path());
  EXPECT_TRUE(list.activate(withAddress("0x5a01")));
  hyprland->answer("dispatch focuswindow address:0x5a09", "No such window found");
  EXPECT_FALSE(list.activate(withAddress("0x5a09")));
  EXPECT_EQ(hyprland->requests(), (std::vector<std::string>{"dispatch focuswindow address:0x5a01",
                                                            "dispatch focuswindow address:0x5a09"}));
}

TEST_F(HyprlandWindowListTest,
       olderHyprlandsSocketInTmpServesWhenTheRuntimeFolderHasNoneAndTheFoldersAreOurs) {
  const auto hyprland = serveIn("/tmp");
  EXPECT_EQ(list.windows().size(), 2u);
  EXPECT_EQ(list.activeOutputName(), "HDMI-A-1");
  // Another user's folder (who could put a listener of theirs in it), then one the group may write to.
  const std::string instance = "/tmp/hypr/" + signature;
  ASSERT_EQ(::chown(instance.c_str(), 65534, 65534), 0);
  EXPECT_EQ(failureOf([&] { list.activate(withAddress("0x5a01")); }), IpcErrorKind::untrustedSocket);
  ASSERT_EQ(::chown(instance.c_str(), ::geteuid(), ::getegid()), 0);
  std::filesystem::permissions(instance, std::filesystem::perms::group_write,
                               std::filesystem::perm_options::add);
  EXPECT_EQ(failureOf([&] { list.windows(); }), IpcErrorKind::untrustedSocket);
  EXPECT_EQ(hyprland->requests().size(), 3u) << "a request went to the refused socket";
}

TEST_F(HyprlandWindowListTest, withoutHyprlandListingFailsAndNoOutputIsNamed) {
  EXPECT_EQ(failureOf([&] { list.windows(); }), IpcErrorKind::unreachable);
  EXPECT_FALSE(list.activeOutputName());
}

// Peers that answer too slowly, too much, or as someone else end the exchange
// with an error of that kind.
TEST_F(HyprlandWindowListTest, anExchangeEndsAtItsDeadlineOrItsBoundAndOnlyWithAListenerOfOurs) {
  const auto socket = runtime / "hypr" / signature / ".socket.sock";
  HyprlandWindowList bounded(runtime.path().string(), signature,
                             IpcBounds{std::chrono::milliseconds(1500), 65536});
  {
    const PeerProcess oneByteASecond(socket, [](int connection) {
      for (int sent = 0; sent < 5 && ::send(connection, "[", 1, MSG_NOSIGNAL) == 1; ++sent) ::sleep(1);
    });
    EXPECT_EQ(failureOf([&] { bounded.windows(); }), IpcErrorKind::timedOut);
  }
  std::filesystem::remove(socket);
  {
    const PeerProcess overTheBound(socket, [](int connection) {
      const std::string answer(65537, ' ');
      ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
    });
    EXPECT_EQ(failureOf([&] { bounded.windows(); }), IpcErrorKind::tooLarge);
  }
  std::filesystem::remove(socket);
  const PeerProcess anotherUser(
      socket, [](int connection) { ::send(connection, "ok", 2, MSG_NOSIGNAL); }, 65534);
  EXPECT_EQ(failureOf([&] { bounded.activate(withAddress("0x5a01")); }), IpcErrorKind::otherUser);
}

TEST(SwayWindowList, aHeaderAnnouncingMoreThanTheBoundIsRefusedUnreadAndOnlyTheRuntimeFolderIsBelieved) {
  test::TempDir runtime;
  const auto socket = runtime / "sway-ipc.sock";
  const PeerProcess announcesOnePointFiveGigabytes(socket, [](int connection) {
    std::string header = "i3-ipc";
    const uint32_t sizeAndType[2] = {1'500'000'000, 4};  // get_tree
    header.append(reinterpret_cast<const char*>(sizeAndType), sizeof sizeAndType);
    ::send(connection, header.data(), header.size(), MSG_NOSIGNAL);
    ::pause();
  });
  SwayWindowList sway(socket.string(), runtime.path().string());
  EXPECT_EQ(failureOf([&] { sway.windows(); }), IpcErrorKind::tooLarge);
  SwayWindowList elsewhere(socket.string(), (runtime / "other").string());
  EXPECT_EQ(failureOf([&] { elsewhere.windows(); }), IpcErrorKind::untrustedSocket);
}

TEST_F(HyprlandWindowListTest, isTheWindowListOfAHyprlandSession) {
  const auto hyprland = serveIn(runtime.path());
  std::map<std::string, std::string> variables{{"XDG_RUNTIME_DIR", runtime.path().string()},
                                               {"HYPRLAND_INSTANCE_SIGNATURE", signature}};
  const auto session = [&] {  // the environment as the session's facts read it once
    return sessionFacts([&](const char* name) -> std::optional<std::string> {
      return variables.contains(name) ? std::optional(variables.at(name)) : std::nullopt;
    });
  };
  const auto fromSession = makeCompositorWindowList(Desktop::hyprland, session());
  ASSERT_TRUE(fromSession);
  EXPECT_EQ(fromSession->activeOutputName(), "HDMI-A-1");
  variables.erase("HYPRLAND_INSTANCE_SIGNATURE");
  EXPECT_FALSE(makeCompositorWindowList(Desktop::hyprland, session()));
}

}  // namespace
}  // namespace lumacap
