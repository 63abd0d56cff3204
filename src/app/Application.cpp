#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

// The application role, loaded by the executable with dlopen: a tray icon
// whose menu drives captures. The process lives until "Quit Lumacap".
extern "C" __attribute__((visibility("default"))) int lumacapRunApplication(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Lumacap");
  QApplication::setOrganizationName("Lumacap");
  QApplication::setQuitOnLastWindowClosed(false);

  QMenu menu;
  QAction* quit = menu.addAction("Quit Lumacap");
  QObject::connect(quit, &QAction::triggered, &application, &QApplication::quit);

  QSystemTrayIcon tray(QIcon(":/icons/viewfinder.svg"));
  tray.setToolTip("Lumacap");
  tray.setContextMenu(&menu);
  tray.show();
  return application.exec();
}
