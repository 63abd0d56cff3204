#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

// Renders the scalable application icon to the PNG sizes that desktops look up
// in the hicolor theme: render-icon ICON.svg OUTPUT-FOLDER NAME SIZE…
// writes OUTPUT-FOLDER/<SIZE>x<SIZE>/apps/NAME.png for each size.
int main(int argc, char** argv) {
  if (argc < 5) {
    std::fputs("usage: render-icon ICON.svg OUTPUT-FOLDER NAME SIZE…\n", stderr);
    return 2;
  }
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  if (!renderer.isValid()) {
    std::fprintf(stderr, "render-icon: %s is not a valid SVG image\n", argv[1]);
    return 1;
  }
  const QString output = QString::fromLocal8Bit(argv[2]);
  const QString name = QString::fromLocal8Bit(argv[3]);
  for (int i = 4; i < argc; ++i) {
    const int size = QString::fromLocal8Bit(argv[i]).toInt();
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(output).arg(size);
    const QString file = folder + "/" + name + ".png";
    if (size <= 0 || !QDir().mkpath(folder) || !image.save(file, "PNG")) {
      std::fprintf(stderr, "render-icon: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
