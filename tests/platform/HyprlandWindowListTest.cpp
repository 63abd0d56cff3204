#include "platform/wayland/HyprlandWindowList.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/ScopedEnvironment.h"
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

TEST_F(HyprlandWindowListTest, olderHyprlandsSocketInTmpServesWhenTheRuntimeFolderHasNone) {
  const auto hyprland = serveIn("/tmp");
  EXPECT_EQ(list.windows().size(), 2u);
  EXPECT_EQ(list.activeOutputName(), "HDMI-A-1");
}

TEST_F(HyprlandWindowListTest, withoutHyprlandListingFailsAndNoOutputIsNamed) {
  EXPECT_THROW(list.windows(), std::runtime_error);
  EXPECT_FALSE(list.activeOutputName());
}

TEST_F(HyprlandWindowListTest, isTheWindowListOfAHyprlandSession) {
  const auto hyprland = serveIn(runtime.path());
  test::ScopedEnvironment environment{{"XDG_RUNTIME_DIR", runtime.path().string()},
                                      {"HYPRLAND_INSTANCE_SIGNATURE", signature}};
  const auto fromSession = makeCompositorWindowList(Desktop::hyprland);
  ASSERT_TRUE(fromSession);
  EXPECT_EQ(fromSession->activeOutputName(), "HDMI-A-1");
  environment.set("HYPRLAND_INSTANCE_SIGNATURE", std::nullopt);
  EXPECT_FALSE(makeCompositorWindowList(Desktop::hyprland));
}

}  // namespace
}  // namespace lumacap
