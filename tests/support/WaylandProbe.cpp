// A Wayland client for the desktop harness's own tests: one full-screen window per output that
// reports on standard output when it is shown and what input reaches it, in global coordinates:
//   shown SCREEN | press X Y | release X Y | key NAME
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cstdio>

namespace {

void say(const QString& line) {
  std::printf("%s\n", qPrintable(line));
  std::fflush(stdout);
}

class OutputWindow : public QWidget {
 public:
  explicit OutputWindow(QScreen* screen) : screen_(screen) {
    winId();  // the platform window exists, so its screen can be chosen before it is mapped
    windowHandle()->setScreen(screen);
    setGeometry(screen->geometry());
    showFullScreen();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).fillRect(rect(), QColor(40, 90, 160));
    if (!shown_) say("shown " + screen_->name());
    shown_ = true;
  }
  void mousePressEvent(QMouseEvent* event) override { report("press", event); }
  void mouseReleaseEvent(QMouseEvent* event) override { report("release", event); }
  void keyPressEvent(QKeyEvent* event) override { say("key " + QKeySequence(event->key()).toString()); }

 private:
  void report(const char* what, QMouseEvent* event) {
    const QPoint at = event->globalPosition().toPoint();
    say(QString("%1 %2 %3").arg(what).arg(at.x()).arg(at.y()));
  }
  QScreen* screen_;
  bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  std::vector<std::unique_ptr<OutputWindow>> windows;
  for (QScreen* screen : QGuiApplication::screens())
    windows.push_back(std::make_unique<OutputWindow>(screen));
  return application.exec();
}
