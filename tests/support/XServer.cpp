#include "support/XServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace lumacap::test {
namespace {

// Starts Xvfb with -displayfd so that it picks a free display number itself.
std::pair<pid_t, std::string> startXvfb(const XServer::Options& options) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) throw std::runtime_error("pipe failed");
  ::fcntl(pipeEnds[0], F_SETFD, FD_CLOEXEC);
  const std::string screen = std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
  const std::string fd = std::to_string(pipeEnds[1]);
  const char* argv[] = {"Xvfb",         "-displayfd", fd.c_str(), "-screen",    "0",
                        screen.c_str(), "-nolisten",  "tcp",      "+extension", "RANDR",
                        "+extension",   "Composite",  "-noreset", nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  const int error = ::posix_spawnp(&pid, "Xvfb", &actions, &attributes, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeEnds[1]);
  if (error != 0) {
    ::close(pipeEnds[0]);
    throw std::runtime_error("cannot start Xvfb (is the xvfb package installed?)");
  }
  std::string number;
  pollfd descriptor{pipeEnds[0], POLLIN, 0};
  while (::poll(&descriptor, 1, 15000) > 0) {
    char c;
    if (::read(pipeEnds[0], &c, 1) != 1 || c == '\n') break;
    number.push_back(c);
  }
  ::close(pipeEnds[0]);
  if (number.empty()) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    throw std::runtime_error("Xvfb did not report a display");
  }
  return {pid, ":" + number};
}

}  // namespace

XServer::XServer() : XServer(Options{}) {}

XServer::XServer(Options options) {
  auto [pid, display] = startXvfb(options);
  display_ = display;
  server_ = std::make_unique<BackgroundProcess>(BackgroundProcess::adopt(pid));
  if (const char* previous = std::getenv("DISPLAY")) {
    hadDisplay_ = true;
    previousDisplay_ = previous;
  }
  ::setenv("DISPLAY", display_.c_str(), 1);
  if (options.windowManager) {
    start({"openbox", "--sm-disable"});
    const bool managed = waitUntil([this] {
      return run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).standardOutput.find("window id") !=
             std::string::npos;
    });
    if (!managed) throw std::runtime_error("openbox did not start");
  }
  if (options.systemTray) startSystemTray();
}

void XServer::startSystemTray() {
  if (tray_ && tray_->running()) return;
  tray_ = &start({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120",
                  "--height", "24", "--SetDockType", "true", "--transparent", "false"});
  waitForWindow("trayer");
}

void XServer::stopSystemTray() {
  if (tray_) tray_->stop();
  tray_ = nullptr;
}

XServer::~XServer() {
  clients_.clear();
  server_.reset();
  if (hadDisplay_) {
    ::setenv("DISPLAY", previousDisplay_.c_str(), 1);
  } else {
    ::unsetenv("DISPLAY");
  }
}

BackgroundProcess& XServer::start(const std::vector<std::string>& arguments,
                                  const std::map<std::string, std::string>& environment) {
  auto merged = this->environment();
  for (const auto& [key, value] : environment) merged[key] = value;
  clients_.push_back(std::make_unique<BackgroundProcess>(arguments, merged));
  return *clients_.back();
}

ProcessResult XServer::run(const std::vector<std::string>& arguments, const std::string& input) const {
  return runProcess(arguments, input, environment());
}

std::optional<unsigned long> XServer::waitForWindow(const std::string& windowClass,
                                                    std::optional<int> pid) const {
  std::optional<unsigned long> found;
  waitUntil([&] {
    std::vector<std::string> command = {"xdotool", "search", "--onlyvisible", "--class", windowClass};
    const ProcessResult result = run(command);
    size_t start = 0;
    const std::string& out = result.standardOutput;
    while (start < out.size()) {
      size_t end = out.find('\n', start);
      if (end == std::string::npos) end = out.size();
      const std::string line = out.substr(start, end - start);
      start = end + 1;
      if (line.empty()) continue;
      if (pid) {
        const ProcessResult owner = run({"xdotool", "getwindowpid", line});
        if (std::atoi(owner.standardOutput.c_str()) != *pid) continue;
      }
      found = std::stoul(line);
      return true;
    }
    return false;
  });
  return found;
}

std::optional<unsigned long> XServer::activeWindow() const {
  const ProcessResult result = run({"xprop", "-root", "_NET_ACTIVE_WINDOW"});
  const size_t hash = result.standardOutput.find("# ");
  if (hash == std::string::npos) return std::nullopt;
  const unsigned long window = std::stoul(result.standardOutput.substr(hash + 2), nullptr, 16);
  if (window == 0) return std::nullopt;
  return window;
}

}  // namespace lumacap::test
