// Renders an SVG to a square PNG with a transparent background, as Qt draws it at run time.
// Usage: render_icon in.svg out.png size
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s in.svg out.png size\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) return 1;
    const int size = QByteArray(argv[3]).toInt();
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    svg.render(&p);
    p.end();
    return img.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
