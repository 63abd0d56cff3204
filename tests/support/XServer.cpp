#include "support/XServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace lumacap::test {
namespace {

// Starts Xvfb with -displayfd so that it picks a free display number itself
// and reports it on its standard output.
std::pair<std::unique_ptr<BackgroundProcess>, std::string> startXvfb(const XServer::Options& options) {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const std::string screen = std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
  auto server = std::make_unique<BackgroundProcess>(
      std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp",
                               "+extension", "RANDR", "+extension", "Composite", "-noreset"},
      std::map<std::string, std::string>{}, pipeEnds[1]);
  ::close(pipeEnds[1]);
  std::string number;
  pollfd descriptor{pipeEnds[0], POLLIN, 0};
  while (::poll(&descriptor, 1, 15000) > 0) {
    char c;
    if (::read(pipeEnds[0], &c, 1) != 1 || c == '\n') break;
    number.push_back(c);
  }
  ::close(pipeEnds[0]);
  if (number.empty())
    throw std::runtime_error("Xvfb did not report a display (is the xvfb package installed?)");
  return {std::move(server), ":" + number};
}

}  // namespace

XServer::XServer() : XServer(Options{}) {}

XServer::XServer(Options options) {
  std::tie(server_, display_) = startXvfb(options);
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
    std::istringstream windows(
        run({"xdotool", "search", "--onlyvisible", "--class", windowClass}).standardOutput);
    for (unsigned long window; windows >> window;) {
      if (pid && std::atoi(run({"xdotool", "getwindowpid", std::to_string(window)}).standardOutput.c_str()) !=
                     *pid) {
        continue;
      }
      found = window;
      return true;
    }
    return false;
  });
  return found;
}

std::vector<unsigned long> XServer::windowsNamed(const std::string& title) const {
  std::string pattern = "^";
  for (const char c : title) {
    if (std::ispunct(static_cast<unsigned char>(c))) pattern += '\\';
    pattern += c;
  }
  std::istringstream found(
      run({"xdotool", "search", "--onlyvisible", "--name", pattern + "$"}).standardOutput);
  std::vector<unsigned long> windows;
  for (unsigned long window; found >> window;) windows.push_back(window);
  return windows;
}

std::optional<unsigned long> XServer::waitForWindowNamed(const std::string& title) const {
  std::vector<unsigned long> windows;
  if (!waitUntil([&] { return !(windows = windowsNamed(title)).empty(); })) return std::nullopt;
  return windows.front();
}

std::optional<unsigned long> XServer::activeWindow() const {
  const ProcessResult result = run({"xprop", "-root", "_NET_ACTIVE_WINDOW"});
  const size_t hash = result.standardOutput.find("# ");
  if (hash == std::string::npos) return std::nullopt;
  const unsigned long window = std::stoul(result.standardOutput.substr(hash + 2), nullptr, 16);
  if (window == 0) return std::nullopt;
  return window;
}

bool XServer::xdotool(std::vector<std::string> arguments) const {
  arguments.insert(arguments.begin(), "xdotool");
  return run(arguments).exitStatus == 0;
}

XServer::Geometry XServer::geometry(unsigned long window) const {
  std::istringstream lines(run({"xwininfo", "-id", std::to_string(window)}).standardOutput);
  Geometry geometry;
  for (std::string line; std::getline(lines, line);) {
    for (auto [label, value] : {std::pair{"Absolute upper-left X:", &geometry.x},
                                {"Absolute upper-left Y:", &geometry.y},
                                {"Width:", &geometry.width},
                                {"Height:", &geometry.height}}) {
      if (const size_t at = line.find(label); at != std::string::npos)
        *value = std::stoi(line.substr(at + std::strlen(label)));
    }
  }
  return geometry;
}

}  // namespace lumacap::test
