// Draws the scalable icon at one size, for the icon theme's fixed sizes.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: render_icon ICON.svg SIZE OUT.png\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  const int size = std::atoi(argv[2]);
  if (!renderer.isValid() || size <= 0) {
    std::fprintf(stderr, "render_icon: cannot draw %s at %s pixels\n", argv[1], argv[2]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  renderer.render(&painter);
  painter.end();
  return image.save(QString::fromLocal8Bit(argv[3]), "PNG") ? 0 : 1;
}
