// Draws "ToviFace", the square picture of Tovi beside the signed-out notice: the awake face icon
// of the classic avatar, with room around it for the awake face's growth.
//
// Usage: zelt-draw-tovi-face OUTPUT.png

#include "avatar/ToviAvatarFacePainter.h"
#include "avatar/ToviAvatarStore.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    constexpr int side = 256;
    // The awake face reaches 1.65 points past its 24-point box; leave 2 on each side, and lower
    // the box by the face's 1-point rise so that the disc sits in the middle.
    constexpr double box = side * 24.0 / 28.0;
    constexpr double rise = box / 24;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        ToviAvatarFacePainter::paint(
            painter, QRectF((side - box) / 2, (side - box) / 2 + rise, box, box),
            ToviAvatarFaceState{}, ToviAvatar::classic().face, ToviAvatarStore::classicImage());
    }
    if (!image.convertToFormat(QImage::Format_ARGB32)
             .save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
