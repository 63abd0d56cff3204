#include <malloc.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/gui/AgentCaptureRequests.h"
#include "app/gui/AppDelegate.h"
#include "app/gui/AppServices.h"
#include "app/gui/DesktopActivation.h"
#include "app/model/AppModel.h"
#include "app/model/SettingsManager.h"
#include "core/DesktopBackend.h"
#include "core/ScreenshotStore.h"

namespace {

// A platform that follows the session: none, or a display server's (not offscreen or minimal,
// which a test or the user chose on purpose).
bool followsTheSession(const char* platform) {
  const std::string_view chosen = platform ? platform : "";
  return chosen.empty() || chosen.find("xcb") != std::string_view::npos ||
         chosen.find("wayland") != std::string_view::npos;
}

}  // namespace

// The application role, loaded by the executable with dlopen: a tray icon
// whose menu drives captures. The process lives until "Quit Lumacap".
extern "C" __attribute__((visibility("default"))) int lumacapRunApplication(int argc, char** argv) {
  using namespace lumacap;
  const DesktopBackend session = chooseBackend(sessionFacts([](const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  }));
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  // Inside a Wayland session Lumacap's windows are Wayland windows, whatever platform the user
  // exported for other programs (xcb is the usual workaround for their screenshot tools).
  const std::optional<QByteArray> usersPlatform =
      platform ? std::optional(QByteArray(platform)) : std::nullopt;
  if (session.session == Session::wayland && followsTheSession(platform)) {
    qputenv("QT_QPA_PLATFORM", "wayland");
  } else if ((!platform || !*platform || std::string_view(platform) == "xcb") &&
             session.session != Session::x11) {
    // Qt aborts without a display; say what is wrong in one line instead.
    std::fputs("Lumacap: no X11 display to run on ($DISPLAY is not set).\n", stderr);
    return 1;
  } else if (!platform || !*platform) {
    // The X11 chosen: Qt 6.8 would follow XDG_SESSION_TYPE=wayland onto libwayland's default
    // socket (wayland-0) when $DISPLAY does not answer, with every service built for X11.
    qputenv("QT_QPA_PLATFORM", "xcb");
  }
  if (const auto warning = sessionWarning(session)) std::fprintf(stderr, "%s\n", warning->c_str());
  // Captures come and go in buffers of megabytes. With a fixed threshold each
  // gets a mapping of its own, which goes back to the system when freed;
  // glibc's moving threshold would keep them in the heap after the first.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  QApplication application(argc, argv);
  // The programs Lumacap starts (file browsers, terminals) keep the user's choice.
  usersPlatform ? qputenv("QT_QPA_PLATFORM", *usersPlatform) : qunsetenv("QT_QPA_PLATFORM");
  QApplication::setApplicationName("Lumacap");
  QApplication::setOrganizationName("Lumacap");
  QApplication::setDesktopFileName(DesktopActivation::serviceName);
  QApplication::setQuitOnLastWindowClosed(false);

  // One Lumacap per session: a second start hands its request over and ends.
  DesktopActivation activation;
  const QString action = DesktopActivation::actionFromArguments(QApplication::arguments());
  const int delay = DesktopActivation::delayFromArguments(QApplication::arguments());
  const DesktopActivation::Claim claim = activation.claim(action, delay);
  if (claim == DesktopActivation::Claim::handedOver) return 0;

  // Without a session bus, or beside a Lumacap that does not answer, this
  // start would run alone and write the same history as the other one.
  const std::filesystem::path root = ScreenshotStore::defaultRoot();
  std::optional<FileDescriptor> ownsDataFolder;
  try {
    ownsDataFolder = ScreenshotStore::lockForApplication(root);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "Lumacap: %s\n", failure.what());
    return 1;
  }
  if (!ownsDataFolder) {
    std::fprintf(stderr,
                 "Lumacap: another Lumacap is already running with the data folder “%s”; quit it first.\n",
                 root.c_str());
    return 1;
  }

  AppServices services;
  // Coding agents' requests for a capture reach the one instance only.
  SettingsManager settings;
  std::optional<AgentCaptureRequests> agentRequests;
  if (claim == DesktopActivation::Claim::primary)
    agentRequests.emplace(QDBusConnection::sessionBus(), services.model(),
                          [&settings] { return settings.agentsMayReadCaptures(); });
  AppDelegate delegate(services.model(), services.context(), services.hotKey());
  QObject::connect(&activation, &DesktopActivation::activated, &delegate, &AppDelegate::reopen);
  QObject::connect(&activation, &DesktopActivation::actionRequested, &delegate, &AppDelegate::perform);
  // The tray appears once the history is read, on a worker.
  services.model().openStore().then([&delegate] { delegate.applicationDidFinishLaunching(); });
  return application.exec();
}
