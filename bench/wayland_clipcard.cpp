// The clipboard and the card of the real application on each headless Wayland
// desktop (KWin, GNOME Shell, sway), medians (min–max) over the rounds:
//   display → paste   from starting `lumacap --action=capture-display` until
//                     another client (wl-paste) has read the whole new
//                     image/png; on GNOME, which keeps that capture off the
//                     clipboard, until the notification arrived instead
//   display → card    from the same start until the card's pixels are at the
//                     bottom-right of the capture's output (the desktop's own
//                     capture of that area, polled), or the notification
//   region → paste    from the release ending a 400 × 300 drag until the
//                     whole image/png is read
// Polling costs show in the figures: each wl-paste takes a few
// milliseconds, each reference capture more (printed as "poll").
//   wayland_clipcard_bench [rounds]   (default 7)
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/Subprocess.h"
#include "support/WaylandDesktop.h"

namespace {

using namespace std::chrono_literals;
using lumacap::test::Compositor;
using lumacap::test::WaylandDesktop;
using Clock = std::chrono::steady_clock;

const QRect cardArea(2 * 1280 - 20 - 304, 800 - 20 - 104, 304, 104);

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

bool differs(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return true;
  const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
  int changed = 0;
  for (int row = 0; row < x.height(); ++row)
    for (int column = 0; column < x.width(); ++column)
      changed += x.pixel(column, row) != y.pixel(column, row);
  return changed * 2 > x.width() * x.height();
}

void measure(Compositor compositor, const char* name, int rounds) {
  std::string whyNot;
  std::unique_ptr<WaylandDesktop> desktop = WaylandDesktop::start(compositor, &whyNot);
  if (!desktop) {
    std::printf("%-6s not measured: %s\n", name, whyNot.c_str());
    return;
  }
  const bool gnome = compositor == Compositor::gnome;
  const std::string lumacap = LUMACAP_BINARY;
  auto application = desktop->spawn({lumacap});
  std::this_thread::sleep_for(3s);  // started, tray icon and hot key in place
  desktop->move(1280 + 300, 300);

  std::vector<double> displayPaste, displayCard, regionPaste, pollPaste, pollCard;
  for (int round = 0; round < rounds; ++round) {
    const QByteArray before = desktop->clipboard("image/png");
    const QImage bare = desktop->reference(cardArea);
    const size_t notices = desktop->notifications().size();
    auto start = Clock::now();
    desktop->run({lumacap, "--action=capture-display"});
    if (gnome) {
      displayPaste.push_back(timeUntil(start, [&] { return desktop->notifications().size() > notices; }));
      displayCard.push_back(displayPaste.back());
    } else {
      displayPaste.push_back(timeUntil(start, [&] {
        const QByteArray png = desktop->clipboard("image/png");
        return !png.isEmpty() && png != before;
      }));
      displayCard.push_back(timeUntil(start, [&] { return differs(bare, desktop->reference(cardArea)); }));
    }
    std::this_thread::sleep_for(8s);  // the card goes, the name suggestion is done

    const QByteArray beforeRegion = desktop->clipboard("image/png");
    desktop->run({lumacap, "--action=capture-region"});
    std::this_thread::sleep_for(1500ms);  // the overlay is up
    desktop->move(1280 + 100, 100);
    desktop->press();
    desktop->move(1280 + 300, 250);
    desktop->move(1280 + 500, 400);
    start = Clock::now();
    desktop->release();
    regionPaste.push_back(timeUntil(start, [&] {
      const QByteArray png = desktop->clipboard("image/png");
      return !png.isEmpty() && png != beforeRegion;
    }));
    std::this_thread::sleep_for(8s);

    auto poll = Clock::now();
    desktop->clipboard("image/png");
    pollPaste.push_back(millisecondsSince(poll));
    poll = Clock::now();
    desktop->reference(cardArea);
    pollCard.push_back(millisecondsSince(poll));
  }
  std::printf("%-6s display → %s  %s\n", name, gnome ? "notice" : "paste ", summary(displayPaste).c_str());
  std::printf("%-6s display → card    %s\n", name, summary(displayCard).c_str());
  std::printf("%-6s region  → paste   %s\n", name, summary(regionPaste).c_str());
  std::printf("%-6s poll: wl-paste    %s, reference capture %s\n", name, summary(pollPaste).c_str(),
              summary(pollCard).c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);  // the harness decodes reference captures with Qt
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  measure(Compositor::kwin, "kwin", rounds);
  measure(Compositor::gnome, "gnome", rounds);
  measure(Compositor::sway, "sway", rounds);
  return 0;
}
