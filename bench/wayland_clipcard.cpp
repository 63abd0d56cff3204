// The clipboard and the card of the real application on each headless Wayland
// desktop (KWin, GNOME Shell, sway), medians (min–max) over the rounds:
//   display → paste   from starting `lumacap --action=capture-display` until
//                     another client has read the whole new image/png (on
//                     KWin and sway `wl-paste --watch`, told of each new
//                     clipboard as X11's probe is; on GNOME, without
//                     data-control, a wl-paste started for each look); on GNOME, which keeps that capture off
//                     the clipboard, until the notification arrived instead
//   display → card    from the same start until the card's pixels are at the
//                     bottom-right of the capture's output (the desktop's own
//                     capture of that area, polled), or the notification
//   region → paste    from the release ending a 400 × 300 drag (4 pixels
//                     wider each round) until the whole image/png is read
// and the same two pastes on X11 (Xvfb 1280×800 with openbox, as
// scripts/paste-bench times them: clipboard_probe, an X client, from starting
// the command or `xdotool mouseup` until it has read the whole image/png), for
// the ratios to X11. As people use it, a window of the user's (the harness's
// probe) has the focus when each capture starts: GNOME hands the clipboard
// only to the client of the focused window (wl-paste there maps a surface of
// its own to be that client), and a window of Lumacap's left focused, such as
// its notice of a desktop without a tray, kept wl-paste out for its whole
// 3 s, so that no region capture was seen pasted.
// Polling costs show in the figures where a wl-paste is started for each look
// (GNOME's pastes; it takes a few milliseconds) and in the card's, each
// reference capture more (printed as "poll"). A desktop that takes no
// screenshots here (KWin 6 without OpenGL) is named with the reason.
//   wayland_clipcard_bench [--raw] [rounds] [kwin|gnome|sway|x11]…
// (default 7 rounds, every desktop; --raw adds each metric's samples as
// "raw DESKTOP METRIC MS…" lines, which scripts/desktop-bench-pairs reads).
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/WaylandDesktop.h"
#include "support/XServer.h"

namespace {

using namespace std::chrono_literals;
using lumacap::test::Compositor;
using lumacap::test::WaylandDesktop;
using Clock = std::chrono::steady_clock;

const QRect cardArea(2 * 1280 - 20 - 304, 800 - 20 - 104, 304, 104);
// The Lumacap measured: $LUMACAP_BINARY (another build, for old against new), else this build's.
const std::string lumacap = std::getenv("LUMACAP_BINARY") ? std::getenv("LUMACAP_BINARY") : LUMACAP_BINARY;
bool raw = false;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Polls `ready` until it holds; the time since `start`, or -1 after 15 s.
template <typename Ready>
double timeUntil(Clock::time_point start, Ready ready) {
  while (millisecondsSince(start) < 15000) {
    if (ready()) return millisecondsSince(start);
  }
  return -1;
}

std::string summary(std::vector<double> values) {
  std::erase_if(values, [](double value) { return value < 0; });
  if (values.empty()) return "failed";
  std::sort(values.begin(), values.end());
  char text[96];
  std::snprintf(text, sizeof text, "%7.0f ms (%.0f–%.0f, n=%zu)", values[values.size() / 2], values.front(),
                values.back(), values.size());
  return text;
}

void print(const char* desktop, const char* label, const char* key, const std::vector<double>& values) {
  std::printf("%-6s %-17s %s\n", desktop, label, summary(values).c_str());
  if (!raw) return;
  std::printf("raw %s %s", desktop, key);
  for (const double value : values)
    if (value >= 0) std::printf(" %.1f", value);
  std::printf("\n");
}

bool differs(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return true;
  const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
  int changed = 0;
  for (int row = 0; row < x.height(); ++row)
    for (int column = 0; column < x.width(); ++column)
      changed += x.pixel(column, row) != y.pixel(column, row);
  return changed * 2 > x.width() * x.height();
}

// On a desktop with data-control (KWin, sway), a client told of each new clipboard at once, as X11's
// probe is: `wl-paste --watch` reads each new selection's whole image/png and prints its length, so a
// paste is timed without the 20–80 ms of starting a wl-paste per look. (GNOME has no data-control:
// there a wl-paste is started for each look, and its start is in the figure.)
class ClipboardWatcher {
 public:
  explicit ClipboardWatcher(WaylandDesktop& desktop)
      : desktop_(desktop),
        process_(desktop.spawn({"wl-paste", "--type", "image/png", "--watch", "sh", "-c", "wc -c"})) {}
  // The images read so far.
  size_t pasted() const {
    std::istringstream lines(desktop_.output(*process_));
    size_t count = 0;
    for (std::string line; std::getline(lines, line);)
      if (!line.empty() && std::all_of(line.begin(), line.end(), ::isdigit) && std::stoul(line) > 0) ++count;
    return count;
  }

 private:
  WaylandDesktop& desktop_;
  std::unique_ptr<lumacap::test::BackgroundProcess> process_;
};

// Whether the region overlay's windows are listed (not on sway 1.10: layer-shell surfaces are no windows).
bool overlayListed(WaylandDesktop& desktop) {
  for (const auto& window : desktop.windows())
    if (window.title == "Select Region — Esc to Cancel") return true;
  return false;
}

// The user's window: the harness's probe, full screen on each output, focused by a click.
std::unique_ptr<lumacap::test::BackgroundProcess> userWindow(WaylandDesktop& desktop) {
  auto probe = desktop.spawn({LUMACAP_WAYLAND_PROBE}, {{"QT_QPA_PLATFORM", "wayland"}});
  lumacap::test::waitUntil(
      [&] {
        desktop.click(640, 400);
        for (const auto& window : desktop.windows())
          if (window.focused && window.app.find("wayland-probe") != std::string::npos) return true;
        return false;
      },
      20s);
  return probe;
}

void measure(Compositor compositor, int rounds) {
  const std::string name = lumacap::test::nameOf(compositor);
  std::string whyNot;
  std::unique_ptr<WaylandDesktop> desktop = WaylandDesktop::start(compositor, &whyNot);
  if (!desktop) {
    std::printf("%-6s not measured: %s\n", name.c_str(), whyNot.c_str());
    return;
  }
  if (!desktop->noScreenshots().empty()) {
    std::printf("%-6s captures not measurable: %s\n", name.c_str(), desktop->noScreenshots().c_str());
    return;
  }
  const bool gnome = compositor == Compositor::gnome;
  auto application = desktop->spawn({lumacap});
  std::this_thread::sleep_for(3s);  // started, tray icon and hot key in place
  desktop->key("Escape");           // the notice of a desktop without a tray
  auto user = userWindow(*desktop);
  desktop->move(1280 + 300, 300);
  std::optional<ClipboardWatcher> watcher;
  if (!gnome) watcher.emplace(*desktop);
  // Whether a new image was read since `seen` images (a watcher's count), or differs from `before`.
  const auto pastedSince = [&](size_t seen, const QByteArray& before) {
    if (watcher) {
      std::this_thread::sleep_for(2ms);  // (a look is a read of its log: no need to spin a core)
      return watcher->pasted() > seen;
    }
    const QByteArray png = desktop->clipboard("image/png");
    return !png.isEmpty() && png != before;
  };

  std::vector<double> displayPaste, displayCard, regionPaste, pollPaste, pollCard;
  for (int round = 0; round < rounds; ++round) {
    const QByteArray before = watcher ? QByteArray() : desktop->clipboard("image/png");
    const size_t seen = watcher ? watcher->pasted() : 0;
    const QImage bare = desktop->reference(cardArea);
    const size_t notices = desktop->notifications().size();
    auto start = Clock::now();
    desktop->run({lumacap, "--action=capture-display"});
    if (gnome) {
      displayPaste.push_back(timeUntil(start, [&] { return desktop->notifications().size() > notices; }));
      displayCard.push_back(displayPaste.back());
    } else {
      displayPaste.push_back(timeUntil(start, [&] { return pastedSince(seen, before); }));
      displayCard.push_back(timeUntil(start, [&] { return differs(bare, desktop->reference(cardArea)); }));
    }
    std::this_thread::sleep_for(8s);  // the card goes, the name suggestion is done
    desktop->click(640, 400);         // the user's window has the focus again (see above)

    const QByteArray beforeRegion = watcher ? QByteArray() : desktop->clipboard("image/png");
    const size_t seenBeforeRegion = watcher ? watcher->pasted() : 0;
    desktop->run({lumacap, "--action=capture-region"});
    // The overlay is up: listed (GNOME's frozen picture, from the portal, takes seconds on a busy
    // machine), then a moment, as a person's drag starts; on sway 1.5 s.
    if (compositor == Compositor::sway ||
        !lumacap::test::waitUntil([&] { return overlayListed(*desktop); }, 15s))
      std::this_thread::sleep_for(1500ms);
    else
      std::this_thread::sleep_for(300ms);
    desktop->move(1280 + 100, 100);
    desktop->press();
    // (Each round's selection a few pixels wider: on GNOME, where the display capture before it is
    // not copied, the same selection of the same screen would give the clipboard the same bytes as
    // the round before, and the paste could not be told from the old one.)
    desktop->move(1280 + 300, 250);
    desktop->move(1280 + 500 + 4 * round, 400);
    start = Clock::now();
    desktop->release();
    regionPaste.push_back(timeUntil(start, [&] { return pastedSince(seenBeforeRegion, beforeRegion); }));
    std::this_thread::sleep_for(8s);

    auto poll = Clock::now();
    desktop->clipboard("image/png");
    pollPaste.push_back(millisecondsSince(poll));
    poll = Clock::now();
    desktop->reference(cardArea);
    pollCard.push_back(millisecondsSince(poll));
  }
  print(name.c_str(), gnome ? "display → notice" : "display → paste", "display-paste", displayPaste);
  print(name.c_str(), "display → card", "display-card", displayCard);
  print(name.c_str(), "region  → paste", "region-paste", regionPaste);
  print(name.c_str(), "poll: wl-paste", "poll-paste", pollPaste);
  print(name.c_str(), "poll: reference", "poll-reference", pollCard);
  std::fflush(stdout);
}

// The same two pastes on X11, timed by clipboard_probe as scripts/paste-bench does.
void measureX11(int rounds) {
  std::vector<double> displayPaste, regionPaste;
  try {
    lumacap::test::TempDir home;
    lumacap::test::XServer server;
    // Its own session bus, on which the commands below hand their request to it.
    const std::string bus = "unix:path=" + (home.path() / "bus").string();
    const std::map<std::string, std::string> session = {
        {"HOME", home.path().string()},
        {"XDG_CONFIG_HOME", (home.path() / "config").string()},
        {"XDG_DATA_HOME", (home.path() / "data").string()},
        {"DBUS_SESSION_BUS_ADDRESS", bus},
        {"QT_QPA_PLATFORM", "xcb"}};
    server.start({"dbus-daemon", "--session", "--nofork", "--address=" + bus});
    lumacap::test::waitUntil([&] { return std::filesystem::exists(home.path() / "bus"); }, 10s);
    server.start({lumacap}, session);
    std::this_thread::sleep_for(4s);
    server.xdotool({"key", "Escape"});
    const auto probe = [&](std::vector<std::string> command) {
      command.insert(command.begin(), {LUMACAP_CLIPBOARD_PROBE, "paste", "--"});
      const auto result = lumacap::test::runProcess(command, {}, session, 20s);
      return result.exitStatus == 0 ? std::atof(result.standardOutput.c_str()) : -1.0;
    };
    for (int round = 0; round < rounds; ++round) {
      displayPaste.push_back(probe({lumacap, "--action=capture-display"}));
      std::this_thread::sleep_for(8s);
      lumacap::test::runProcess({lumacap, "--action=capture-region"}, {}, session);
      std::this_thread::sleep_for(1500ms);
      server.xdotool({"mousemove", "100", "100", "mousedown", "1", "mousemove", "300", "250", "mousemove",
                      "500", "400"});
      regionPaste.push_back(probe({"xdotool", "mouseup", "1"}));
      std::this_thread::sleep_for(8s);
    }
  } catch (const std::exception& error) {
    std::printf("x11    not measured: %s\n", error.what());
    return;
  }
  print("x11", "display → paste", "display-paste", displayPaste);
  print("x11", "region  → paste", "region-paste", regionPaste);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);  // the harness decodes reference captures with Qt
  // The harness names the build's Lumacap in KWin's desktop entry, as the tests do.
  ::setenv("LUMACAP_BINARY", LUMACAP_BINARY, 0);
  std::vector<std::string> arguments(argv + 1, argv + argc);
  raw = std::erase(arguments, "--raw") > 0;
  int rounds = 7;
  if (!arguments.empty() && std::atoi(arguments.front().c_str()) > 0) {
    rounds = std::atoi(arguments.front().c_str());
    arguments.erase(arguments.begin());
  }
  if (arguments.empty()) arguments = {"kwin", "gnome", "sway", "x11"};
  for (const std::string& name : arguments) {
    if (name == "x11") {
      measureX11(rounds);
      continue;
    }
    bool known = false;
    for (const Compositor compositor : {Compositor::kwin, Compositor::gnome, Compositor::sway}) {
      if (lumacap::test::nameOf(compositor) != name) continue;
      known = true;
      try {
        measure(compositor, rounds);
      } catch (const std::exception& error) {  // a desktop that broke mid-way: the others go on
        std::printf("%-6s stopped: %s\n", name.c_str(), error.what());
        std::fflush(stdout);
      }
    }
    if (!known) std::printf("%s: no such desktop (kwin, gnome, sway, x11)\n", name.c_str());
  }
  return 0;
}
