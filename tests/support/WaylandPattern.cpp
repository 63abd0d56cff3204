// A Wayland client for the capture tests: one full-screen window per output
// showing a picture in which every pixel tells where it is in the global
// layout (red: x mod 256, green: y mod 256, blue: which 256-pixel block),
// so a capture of the wrong place, size or density cannot match. Prints
// "shown SCREEN" once each window is on the screen.
#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>

namespace {

QRgb patternAt(int x, int y) { return qRgb(x % 256, y % 256, ((x / 256) * 40 + (y / 256) * 90) % 256); }

class PatternWindow final : public QWidget {
 public:
  explicit PatternWindow(QScreen* screen) : screen_(screen) {
    const QRect frame = screen->geometry();
    image_ = QImage(frame.size(), QImage::Format_RGB32);
    for (int y = 0; y < frame.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
      for (int x = 0; x < frame.width(); ++x) line[x] = patternAt(frame.x() + x, frame.y() + y);
    }
    setWindowTitle("pattern " + screen->name());
    setCursor(Qt::BlankCursor);
    winId();
    windowHandle()->setScreen(screen);
    showFullScreen();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).drawImage(rect(), image_);
    if (!shown_) {
      shown_ = true;
      std::printf("shown %s\n", qPrintable(screen_->name()));
      std::fflush(stdout);
    }
  }

 private:
  QScreen* screen_;
  QImage image_;
  bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  std::vector<std::unique_ptr<PatternWindow>> windows;
  for (QScreen* screen : QGuiApplication::screens())
    windows.push_back(std::make_unique<PatternWindow>(screen));
  return application.exec();
}
