// A Wayland client for the window tests: one ordinary window with the title
// and picture given, without client-side decoration, so the window's content
// is the picture alone. Prints "shown" once it is on the screen.
//   wayland-window TITLE SEED WIDTH HEIGHT
#include <QApplication>
#include <QPainter>
#include <QWidget>
#include <cstdio>

#include "support/WaylandWindowPattern.h"

namespace {

class PatternWindow final : public QWidget {
 public:
  explicit PatternWindow(int seed) : seed_(seed) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).drawImage(0, 0, lumacap::test::windowPattern(size(), seed_));
    if (!shown_) {
      shown_ = true;
      std::printf("shown\n");
      std::fflush(stdout);
    }
  }

 private:
  int seed_;
  bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
  QApplication application(argc, argv);
  if (argc != 5) {
    std::fprintf(stderr, "usage: wayland-window TITLE SEED WIDTH HEIGHT\n");
    return 2;
  }
  QApplication::setDesktopFileName(QStringLiteral("lumacap-test-window"));
  PatternWindow window(std::atoi(argv[2]));
  window.setWindowTitle(QString::fromLocal8Bit(argv[1]));
  window.resize(std::atoi(argv[3]), std::atoi(argv[4]));
  window.show();
  return application.exec();
}
