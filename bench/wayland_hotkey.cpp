// The global hot key (Shift+Super+2) until the region overlay is mapped, with
// the real application, side by side in one run (rounds interleaved, so that
// load from elsewhere hits every desktop alike):
//   X11     Xvfb 1280×800 with openbox, Lumacap's own key grab: from starting
//           `xdotool key super+shift+2` until a window as large as the screen
//           is mapped (clipboard_probe map, an X client woken by MapNotify),
//           as scripts/paste-bench measures it
//   KWin    headless KWin, two 1280×800 outputs, the GlobalShortcuts
//           portal: from the key sent to the running fake-input injector
//           until KWin has added both overlay windows (a KWin script
//           connected to workspace.clientAdded calls this process over D-Bus)
//   sway    headless sway, two outputs, `bindsym … exec lumacap
//           --action=capture-region`: from sway's IPC `binding` event (the
//           key matched the binding) until its `window` `new` events for both
//           overlay windows (sway announces a window as it maps it); the
//           same from starting wtype is given too. Where the overlay is made
//           of layer-shell surfaces (built with LayerShellQt, as on Debian
//           13), which are no windows to sway's IPC, until both outputs are
//           seen dimmed (grim, polled: about 25 ms a look, in the figure)
// Every other end is announced by the desktop as it happens: not polled.
// Run as root, like the Wayland tests:
//   build/bin/wayland_hotkey_bench [--raw] [rounds] [x11|kwin|sway]…
// (default 15 rounds, all three; --raw adds the samples as "raw DESKTOP METRIC
// MS…" lines for scripts/desktop-bench-pairs). Where KWin takes no screenshots
// (KWin 6 without OpenGL) no overlay opens: it says so and why.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryFile>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/DesktopShortcut.h"
#include "core/Shortcut.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/WaylandDesktop.h"
#include "support/XServer.h"

namespace {

using namespace std::chrono_literals;
using namespace lumacap;
using namespace lumacap::test;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The Lumacap measured: $LUMACAP_BINARY (another build, for old against new), else this build's.
const std::string lumacap = std::getenv("LUMACAP_BINARY") ? std::getenv("LUMACAP_BINARY") : LUMACAP_BINARY;
const std::string overlayTitle = "Select Region — Esc to Cancel";
constexpr size_t overlayWindows = 2;  // one per output
const std::string shiftSuper2 =
    R"({"keyCode":19,"keyLabel":"2","command":true,"shift":true,"option":false,"control":false})";

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// Runs this thread's events until `done` holds or `timeout` passes.
template <typename Done>
bool runEventsUntil(Done done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    QEventLoop loop;
    QTimer::singleShot(2, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

struct Samples {
  std::vector<double> values;
  std::string summary() const {
    if (values.empty()) return "failed";
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    char text[96];
    std::snprintf(text, sizeof text, "%6.1f ms (%.1f–%.1f, n=%zu)", median(), sorted.front(), sorted.back(),
                  sorted.size());
    return text;
  }
  double median() const {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
  }
};

// Lumacap's settings with the capture shortcut stored.
void storeShortcut(const fs::path& configHome) {
  QSettings settings(QString::fromStdString((configHome / "Lumacap/Lumacap.conf").string()),
                     QSettings::IniFormat);
  settings.setValue("shortcut", QByteArray::fromStdString(shiftSuper2));
}

// The window these tray-less desktops show once after start, closed so that it stays out of the way.
void closeNoTrayNotice(WaylandDesktop& desktop) {
  const auto notice = [&] {
    for (const DesktopWindow& window : desktop.windows())
      if (window.title == "Lumacap" && window.focused) return true;
    return false;
  };
  if (waitUntil(notice, 20s)) desktop.key("return");
}

// --- X11 -------------------------------------------------------------------------------------------

class X11HotKey {
 public:
  X11HotKey() {
    fs::create_directories(home_.path() / "config");
    storeShortcut(home_.path() / "config");
    server_.start({"dbus-run-session", "--", lumacap},
                  {{"HOME", home_.path().string()},
                   {"XDG_CONFIG_HOME", (home_.path() / "config").string()},
                   {"XDG_DATA_HOME", (home_.path() / "data").string()},
                   {"QT_QPA_PLATFORM", "xcb"}});
    std::this_thread::sleep_for(4s);  // started, key grabbed
    server_.xdotool({"key", "Escape"});
  }
  std::optional<double> round() {
    const ProcessResult probe =
        runProcess({LUMACAP_CLIPBOARD_PROBE, "map", "--", "xdotool", "key", "super+shift+2"}, {}, {}, 20s);
    std::this_thread::sleep_for(300ms);
    server_.xdotool({"key", "Escape"});
    std::this_thread::sleep_for(300ms);
    if (probe.exitStatus != 0) return std::nullopt;
    return std::atof(probe.standardOutput.c_str());
  }

 private:
  TempDir home_;
  XServer server_;
};

// --- KWin ------------------------------------------------------------------------------------------

// Receives the KWin script's call for each window KWin adds.
class AddedWindows : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.lumacap.Bench")
 public:
  std::vector<std::pair<Clock::time_point, std::string>> seen;
 public slots:
  void added(const QString& caption) { seen.emplace_back(Clock::now(), caption.toStdString()); }
};

class KWinHotKey {
 public:
  explicit KWinHotKey(WaylandDesktop& desktop)
      : desktop_(desktop),
        bus_(QDBusConnection::connectToBus(
            QString::fromStdString(desktop.environment().at("DBUS_SESSION_BUS_ADDRESS")),
            "lumacap-hotkey-bench")) {
    storeShortcut(desktop.environment().at("XDG_CONFIG_HOME"));
    application_ = desktop.spawn({lumacap});
    ready_ = waitUntil(
        [&] { return desktop.output(*application_).find("GlobalShortcuts portal as") != std::string::npos; },
        30s);
    if (!ready_) std::fprintf(stderr, "kwin: Lumacap said:\n%s\n", desktop.output(*application_).c_str());
    closeNoTrayNotice(desktop);
    bus_.registerObject("/Bench", &windows_, QDBusConnection::ExportAllSlots);
    script_.setFileTemplate(QDir::tempPath() + "/lumacap-bench-XXXXXX.js");
    script_.open();
    // KWin runs as the session's user: the script must be readable to it.
    script_.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    script_.write(QString(R"(
function added(w) { callDBus("%1", "/Bench", "org.lumacap.Bench", "added", String(w.caption)); }
if (workspace.windowAdded) workspace.windowAdded.connect(added); else workspace.clientAdded.connect(added);
)")
                      .arg(bus_.baseService())
                      .toUtf8());
    script_.flush();
    scripting("loadScript", {script_.fileName(), "lumacap-hotkey-bench"});
    scripting("start", {});
  }
  ~KWinHotKey() {
    scripting("unloadScript", {"lumacap-hotkey-bench"});
    application_->stop();
  }
  bool ready() const { return ready_; }

  std::optional<double> round() {
    windows_.seen.clear();
    const auto start = Clock::now();
    desktop_.key("shift+super+2");
    const bool mapped = runEventsUntil([&] { return overlaysSeen() == overlayWindows; }, 20s);
    std::optional<double> took;
    if (mapped) {
      const auto last = std::find_if(windows_.seen.rbegin(), windows_.seen.rend(),
                                     [](const auto& window) { return window.second == overlayTitle; });
      took = millisecondsBetween(start, last->first);
    }
    // KWin gives the overlay keys once it is clicked.
    desktop_.click(1500, 300);
    desktop_.key("Escape");
    std::this_thread::sleep_for(500ms);
    return took;
  }

 private:
  size_t overlaysSeen() const {
    return std::count_if(windows_.seen.begin(), windows_.seen.end(),
                         [](const auto& window) { return window.second == overlayTitle; });
  }
  void scripting(const QString& method, const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", method);
    call.setArguments(arguments);
    bus_.call(call, QDBus::Block, 5000);
  }

  WaylandDesktop& desktop_;
  QDBusConnection bus_;
  AddedWindows windows_;
  QTemporaryFile script_;
  std::unique_ptr<BackgroundProcess> application_;
  bool ready_ = false;
};

// --- sway ------------------------------------------------------------------------------------------

// sway's IPC events (window, binding), each with the time it arrived, read on a thread of its own.
class SwayEvents {
 public:
  struct Event {
    Clock::time_point at;
    nlohmann::json body;
  };

  explicit SwayEvents(const std::string& socketPath) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("cannot reach sway's IPC socket");
    send(2, R"(["window","binding"])");  // SUBSCRIBE
    readMessage();                       // {"success": true}
    reader_ = std::thread([this] {
      while (auto message = readMessage()) {
        std::lock_guard lock(mutex_);
        events_.push_back({Clock::now(), nlohmann::json::parse(*message, nullptr, false)});
      }
    });
  }
  ~SwayEvents() {
    ::shutdown(fd_, SHUT_RDWR);
    reader_.join();
    ::close(fd_);
  }
  std::vector<Event> since(Clock::time_point start) {
    std::lock_guard lock(mutex_);
    std::vector<Event> events;
    for (const Event& event : events_)
      if (event.at >= start) events.push_back(event);
    return events;
  }

 private:
  void send(uint32_t type, const std::string& payload) {
    std::string message = "i3-ipc";
    const uint32_t header[2] = {static_cast<uint32_t>(payload.size()), type};
    message.append(reinterpret_cast<const char*>(header), sizeof header);
    message += payload;
    if (::write(fd_, message.data(), message.size()) != static_cast<ssize_t>(message.size()))
      throw std::runtime_error("cannot write to sway's IPC socket");
  }
  bool readExactly(char* into, size_t size) {
    while (size > 0) {
      const ssize_t got = ::read(fd_, into, size);
      if (got <= 0) return false;
      into += got;
      size -= static_cast<size_t>(got);
    }
    return true;
  }
  std::optional<std::string> readMessage() {
    char header[14];
    if (!readExactly(header, sizeof header)) return std::nullopt;
    uint32_t length = 0;
    std::memcpy(&length, header + 6, sizeof length);
    std::string payload(length, '\0');
    if (!readExactly(payload.data(), length)) return std::nullopt;
    return payload;
  }

  int fd_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::vector<Event> events_;
};

class SwayHotKey {
 public:
  explicit SwayHotKey(WaylandDesktop& desktop) : desktop_(desktop) {
    storeShortcut(desktop.environment().at("XDG_CONFIG_HOME"));
    application_ = desktop.spawn({lumacap});
    ready_ =
        waitUntil([&] { return desktop.output(*application_).find("lumacap: ") != std::string::npos; }, 30s);
    closeNoTrayNotice(desktop);
    const std::string line =
        compositorConfigLine(ConfiguredCompositor::sway, Shortcut::initial(), lumacap).line;
    ready_ = ready_ && desktop.run({"swaymsg", line}).exitStatus == 0;
    events_.emplace(desktop.environment().at("SWAYSOCK"));
    bare_ = edgeShades();
  }
  ~SwayHotKey() {
    desktop_.run({"swaymsg", "unbindsym Shift+Mod4+2"});
    application_->stop();
  }
  bool ready() const { return ready_; }

  // From the binding event, and from starting wtype.
  std::pair<std::optional<double>, std::optional<double>> round() {
    const auto start = Clock::now();
    desktop_.key("shift+super+2");
    std::optional<Clock::time_point> bound, mapped;
    waitUntil(
        [&] {
          // sway announces a window as it maps it ("new"), before its title ("title"): the
          // overlay's windows are the ones that get its title.
          const std::vector<SwayEvents::Event> events = events_->since(start);
          std::set<int64_t> overlays;
          for (const SwayEvents::Event& event : events) {
            if (event.body.value("change", "") == "run") bound = bound.value_or(event.at);
            const nlohmann::json container = event.body.value("container", nlohmann::json::object());
            if (container.value("name", nlohmann::json()) == overlayTitle)
              overlays.insert(container.value("id", int64_t{-1}));
          }
          if (overlays.size() < overlayWindows) {
            // A layer-shell overlay (Debian 13's Qt has LayerShellQt) is no window: the outputs dim.
            if (layered_ == false || !dimmed()) return false;
            mapped = Clock::now();
            layered_ = true;
            return true;
          }
          layered_ = false;
          for (const SwayEvents::Event& event : events) {
            const nlohmann::json container = event.body.value("container", nlohmann::json::object());
            if (event.body.value("change", "") == "new" && overlays.count(container.value("id", int64_t{-1})))
              mapped = event.at;  // the later of the two
          }
          return mapped.has_value();
        },
        20s);
    desktop_.click(1500, 300);
    desktop_.key("Escape");
    std::this_thread::sleep_for(500ms);
    if (!mapped) {
      std::fprintf(stderr, "sway: no overlay mapped; events seen:\n");
      for (const SwayEvents::Event& event : events_->since(start))
        std::fprintf(stderr, "  %s\n", event.body.dump().substr(0, 300).c_str());
      return {};
    }
    return {bound ? std::optional(millisecondsBetween(*bound, *mapped)) : std::nullopt,
            millisecondsBetween(start, *mapped)};
  }
  bool layered() const { return layered_.value_or(false); }

 private:
  // The grey of each output beside their common edge (grim, about 25 ms a look).
  std::pair<int, int> edgeShades() {
    const QImage edge = desktop_.reference(QRect(1270, 400, 20, 1));
    if (edge.width() < 20) return {0, 0};
    return {qGray(edge.pixel(0, 0)), qGray(edge.pixel(19, 0))};
  }
  bool dimmed() {
    const auto [left, right] = edgeShades();
    return left < bare_.first * 0.85 && right < bare_.second * 0.85;  // the overlay dims by 30 %
  }

  WaylandDesktop& desktop_;
  std::unique_ptr<BackgroundProcess> application_;
  std::optional<SwayEvents> events_;
  std::pair<int, int> bare_;
  // Whether the overlay is made of layer-shell surfaces; unknown until it was first seen.
  std::optional<bool> layered_;
  bool ready_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  // The harness names the build's Lumacap in KWin's desktop entry, as the tests do.
  ::setenv("LUMACAP_BINARY", LUMACAP_BINARY, 0);
  std::vector<std::string> arguments(argv + 1, argv + argc);
  const bool raw = std::erase(arguments, "--raw") > 0;
  int rounds = 15;
  if (!arguments.empty() && std::atoi(arguments.front().c_str()) > 0) {
    rounds = std::atoi(arguments.front().c_str());
    arguments.erase(arguments.begin());
  }
  if (arguments.empty()) arguments = {"x11", "kwin", "sway"};
  const auto wanted = [&](const std::string& name) {
    return std::find(arguments.begin(), arguments.end(), name) != arguments.end();
  };
  if (wanted("gnome"))
    std::printf(
        "gnome not measured: GNOME 43 has no GlobalShortcuts portal and keeps the custom keybinding "
        "in its settings, which the headless session holds in memory; GNOME 48 binds the key once "
        "GNOME Settings' dialog is answered, which the harness does not do\n");

  std::string whyNot;
  std::unique_ptr<WaylandDesktop> kwinDesktop, swayDesktop;
  if (wanted("kwin") && !(kwinDesktop = WaylandDesktop::start(Compositor::kwin, &whyNot)))
    std::printf("kwin not measured: %s\n", whyNot.c_str());
  if (wanted("sway") && !(swayDesktop = WaylandDesktop::start(Compositor::sway, &whyNot)))
    std::printf("sway not measured: %s\n", whyNot.c_str());
  std::optional<X11HotKey> x11;
  try {
    if (wanted("x11")) x11.emplace();
  } catch (const std::exception& error) {
    std::printf("x11 not measured: %s\n", error.what());
  }
  std::optional<KWinHotKey> kwin;
  if (kwinDesktop) kwin.emplace(*kwinDesktop);
  std::optional<SwayHotKey> sway;
  if (swayDesktop) sway.emplace(*swayDesktop);
  if (kwin && !kwin->ready()) std::printf("kwin: the portal did not bind the shortcut\n");
  if (sway && !sway->ready()) std::printf("sway: the binding was not configured\n");

  Samples x11Times, kwinTimes, swayTimes, swayFromWtype;
  for (int round = 0; round < rounds; ++round) {
    if (x11)
      if (auto took = x11->round()) x11Times.values.push_back(*took);
    if (kwin && kwin->ready()) {
      if (auto took = kwin->round()) {
        kwinTimes.values.push_back(*took);
      } else if (kwinTimes.values.empty() && !kwinDesktop->noScreenshots().empty()) {
        // The overlay opens on a frozen picture of the outputs: without screenshots it cannot.
        std::printf("kwin: no overlay opened (%s)\n", kwinDesktop->noScreenshots().c_str());
        kwin.reset();
      }
    }
    if (sway && sway->ready()) {
      const auto [fromBinding, fromWtype] = sway->round();
      if (fromBinding) swayTimes.values.push_back(*fromBinding);
      if (fromWtype) swayFromWtype.values.push_back(*fromWtype);
    }
  }
  const auto ratio = [&](const Samples& samples) {
    if (samples.values.empty() || x11Times.values.empty()) return std::string("—");
    char text[16];
    std::snprintf(text, sizeof text, "×%.2f", samples.median() / x11Times.median());
    return std::string(text);
  };
  std::printf("Shift+Super+2 → region overlay mapped, %d rounds (median (min–max); ÷ X11's median)\n",
              rounds);
  const auto line = [&](const char* label, const char* key, const Samples& samples, bool measured) {
    if (!measured) return;
    std::printf("%-52s %s  %s\n", label, samples.summary().c_str(), ratio(samples).c_str());
    if (!raw) return;
    std::printf("raw %s", key);
    for (const double value : samples.values) std::printf(" %.1f", value);
    std::printf("\n");
  };
  line("X11 key grab (from starting xdotool)", "x11 hotkey-overlay", x11Times, x11.has_value());
  line("KWin GlobalShortcuts portal (from the key)", "kwin hotkey-overlay", kwinTimes, kwin.has_value());
  line("sway bindsym lumacap --action (from the binding)", "sway hotkey-overlay", swayTimes,
       sway.has_value());
  line("sway bindsym lumacap --action (from starting wtype)", "sway hotkey-overlay-wtype", swayFromWtype,
       sway.has_value());
  return 0;
}

#include "wayland_hotkey.moc"
