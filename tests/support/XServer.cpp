#include "support/XServer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace lumacap::test {

XServer::XServer(const std::string& screen) {
  // -displayfd: Xvfb picks a free display number itself and reports it.
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  server_ = std::make_unique<BackgroundProcess>(
      std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp",
                               "+extension", "RANDR", "+extension", "Composite", "-noreset"},
      std::map<std::string, std::string>{}, std::array<int, 3>{-1, pipeEnds[1], -1});
  ::close(pipeEnds[1]);
  pollfd descriptor{pipeEnds[0], POLLIN, 0};
  std::string number;
  for (char c; ::poll(&descriptor, 1, 15000) > 0 && ::read(pipeEnds[0], &c, 1) == 1 && c != '\n';) {
    number.push_back(c);
  }
  ::close(pipeEnds[0]);
  if (number.empty())
    throw std::runtime_error("Xvfb did not report a display (is the xvfb package installed?)");
  display_ = ":" + number;
  environment_.set("DISPLAY", display_);
  windowManager_ = &start({"openbox", "--sm-disable"});
  const bool managed = waitUntil([] {
    return runProcess({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).standardOutput.find("window id") !=
           std::string::npos;
  });
  if (!managed) throw std::runtime_error("openbox did not start");
  startSystemTray();
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

BackgroundProcess& XServer::start(const std::vector<std::string>& arguments,
                                  const std::map<std::string, std::string>& environment) {
  clients_.push_back(std::make_unique<BackgroundProcess>(arguments, environment));
  return *clients_.back();
}

std::optional<unsigned long> XServer::waitForWindow(const std::string& windowClass,
                                                    std::optional<int> pid) const {
  std::vector<std::string> search = {"xdotool", "search", "--all", "--onlyvisible"};
  if (pid) search.insert(search.end(), {"--pid", std::to_string(*pid)});
  search.insert(search.end(), {"--class", windowClass});  // the pattern comes last
  unsigned long window = 0;
  if (!waitUntil(
          [&] { return static_cast<bool>(std::istringstream(runProcess(search).standardOutput) >> window); }))
    return std::nullopt;
  return window;
}

std::vector<unsigned long> XServer::windowsNamed(const std::string& title) const {
  std::string pattern = "^";
  for (const char c : title) {
    if (std::ispunct(static_cast<unsigned char>(c))) pattern += '\\';
    pattern += c;
  }
  std::istringstream found(
      runProcess({"xdotool", "search", "--onlyvisible", "--name", pattern + "$"}).standardOutput);
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
  const ProcessResult result = runProcess({"xprop", "-root", "_NET_ACTIVE_WINDOW"});
  const size_t hash = result.standardOutput.find("# ");
  if (hash == std::string::npos) return std::nullopt;
  const unsigned long window = std::stoul(result.standardOutput.substr(hash + 2), nullptr, 16);
  if (window == 0) return std::nullopt;
  return window;
}

bool XServer::xdotool(std::vector<std::string> arguments) const {
  arguments.insert(arguments.begin(), "xdotool");
  return runProcess(arguments).exitStatus == 0;
}

XServer::Geometry XServer::geometry(unsigned long window) const {
  std::istringstream lines(runProcess({"xwininfo", "-id", std::to_string(window)}).standardOutput);
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
