// Renders an SVG icon into a square PNG of the given side; run by the build for the fixed-size
// icon theme directories.
//
// Usage: zelt-render-icon INPUT.svg SIDE OUTPUT.png

#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s INPUT.svg SIDE OUTPUT.png\n", argv[0]);
        return 2;
    }
    bool isNumber = false;
    const int side = QString::fromLocal8Bit(argv[2]).toInt(&isNumber);
    if (!isNumber || side < 1 || side > 4096) {
        std::fprintf(stderr, "not a side in pixels: %s\n", argv[2]);
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "could not read %s\n", argv[1]);
        return 1;
    }
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, side, side));
    }
    if (!image.convertToFormat(QImage::Format_ARGB32)
             .save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "could not write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
