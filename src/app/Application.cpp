#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/AppDelegate.h"
#include "app/AppServices.h"

// The application role, loaded by the executable with dlopen: a tray icon
// whose menu drives captures. The process lives until "Quit Lumacap".
extern "C" __attribute__((visibility("default"))) int lumacapRunApplication(int argc, char** argv) {
  // Qt aborts without a display; say what is wrong in one line instead.
  const char* display = std::getenv("DISPLAY");
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const bool onX11 = !platform || !*platform || std::string_view(platform) == "xcb";
  if (onX11 && (!display || !*display)) {
    std::fputs("Lumacap: no X11 display to run on ($DISPLAY is not set).\n", stderr);
    return 1;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName("Lumacap");
  QApplication::setOrganizationName("Lumacap");
  QApplication::setQuitOnLastWindowClosed(false);

  lumacap::AppServices services;
  lumacap::AppDelegate delegate(services.model(), services.hotKey());
  delegate.applicationDidFinishLaunching();
  return application.exec();
}
