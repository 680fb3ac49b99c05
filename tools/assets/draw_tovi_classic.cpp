// Draws Tovi's classic face, the image behind the classic avatar record. The record fixes the
// canvas (498 x 602), the eye centres and radii, the mouth and the two colours; the drawn eyes of
// the avatar icon land on the eye centres, so those must stay exactly where the record says.
//
// Usage: zelt-draw-tovi-classic OUTPUT.png

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr int canvasWidth = 498;
constexpr int canvasHeight = 602;

struct Eye
{
    QPointF centre;
    double radius;
};

constexpr Eye leftEye{{196.3, 183.8}, 26.1};
constexpr Eye rightEye{{358.3, 184.3}, 26.6};
constexpr QPointF mouthCentre{284.0, 294.0};
constexpr double mouthHalfWidth = 64.8;

const QColor skin(0x50, 0x52, 0x38);   // #505238
const QColor sclera(0xe3, 0xde, 0xc7); // #e3dec7
const QColor pupil(26, 23, 20);
const QColor feature(0x26, 0x28, 0x1a); // brows and smile, a deep shade of the skin

// A superellipse: rounder than a rectangle, fuller than an ellipse. The head is centred on the
// canvas while the features sit a little to the right, so the face looks slightly turned. It is
// large enough to fill the disc that the round icon cuts out around the eyes.
QPainterPath headPath()
{
    const QPointF centre(249.0, 306.0);
    const double a = 234.0;
    const double b = 292.0;
    const double exponent = 2.6;
    QPainterPath path;
    constexpr int steps = 720;
    for (int i = 0; i < steps; ++i) {
        const double t = 2 * std::numbers::pi * i / steps;
        const double c = std::cos(t);
        const double s = std::sin(t);
        const double x = centre.x() + a * std::copysign(std::pow(std::abs(c), 2 / exponent), c);
        const double y = centre.y() + b * std::copysign(std::pow(std::abs(s), 2 / exponent), s);
        if (i == 0)
            path.moveTo(x, y);
        else
            path.lineTo(x, y);
    }
    path.closeSubpath();
    return path;
}

QColor withAlpha(QColor color, int alpha)
{
    color.setAlpha(alpha);
    return color;
}

void drawHead(QPainter &painter, const QPainterPath &head)
{
    // Lit from the upper left: lighter there, the plain skin colour across the face, darker
    // towards the rim.
    QRadialGradient light(QPointF(205, 150), 480);
    light.setColorAt(0.0, skin.lighter(128));
    light.setColorAt(0.42, skin);
    light.setColorAt(1.0, skin.darker(135));
    painter.fillPath(head, light);

    painter.save();
    painter.setClipPath(head);
    // A soft shadow under the chin.
    QLinearGradient chin(QPointF(0, 380), QPointF(0, canvasHeight));
    chin.setColorAt(0.0, withAlpha(Qt::black, 0));
    chin.setColorAt(1.0, withAlpha(Qt::black, 70));
    painter.fillRect(QRectF(0, 0, canvasWidth, canvasHeight), chin);
    // Warm cheeks below the eyes, clear of the smile.
    for (const QPointF cheek : {QPointF(168, 262), QPointF(392, 262)}) {
        QRadialGradient blush(cheek, 36);
        blush.setColorAt(0.0, QColor(150, 112, 70, 110));
        blush.setColorAt(1.0, QColor(150, 112, 70, 0));
        painter.fillRect(QRectF(cheek.x() - 36, cheek.y() - 36, 72, 72), blush);
    }
    painter.restore();

    // A thin darker rim keeps the outline readable on light backgrounds.
    painter.strokePath(head, QPen(skin.darker(150), 3));
}

void drawEye(QPainter &painter, const Eye &eye)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(sclera);
    painter.drawEllipse(eye.centre, eye.radius, eye.radius);

    const double pupilRadius = eye.radius * 0.46;
    painter.setBrush(pupil);
    painter.drawEllipse(eye.centre, pupilRadius, pupilRadius);

    // The catch light that makes an eye look alive.
    painter.setBrush(QColor(255, 255, 255, 210));
    const QPointF glint = eye.centre + QPointF(-pupilRadius * 0.38, -pupilRadius * 0.42);
    painter.drawEllipse(glint, pupilRadius * 0.32, pupilRadius * 0.32);

    // A relaxed brow arching over the eye.
    QPainterPath brow;
    const double top = eye.centre.y() - eye.radius - 20;
    brow.moveTo(eye.centre.x() - eye.radius * 0.95, top + 8);
    brow.quadTo(eye.centre.x(), top - 8, eye.centre.x() + eye.radius * 0.95, top + 8);
    painter.strokePath(brow, QPen(feature, 7, Qt::SolidLine, Qt::RoundCap));
}

void drawSmile(QPainter &painter)
{
    // The curve spans the mouth's width and dips 20 px, so its box is centred on the mouth.
    const double corners = mouthCentre.y() - 10;
    QPainterPath smile;
    smile.moveTo(mouthCentre.x() - mouthHalfWidth, corners);
    smile.quadTo(mouthCentre.x(), corners + 40, mouthCentre.x() + mouthHalfWidth, corners);
    painter.strokePath(smile, QPen(feature, 9, Qt::SolidLine, Qt::RoundCap));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }

    QImage image(canvasWidth, canvasHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath head = headPath();
        drawHead(painter, head);
        drawEye(painter, leftEye);
        drawEye(painter, rightEye);
        drawSmile(painter);
    }

    const QString output = QString::fromLocal8Bit(argv[1]);
    if (!image.convertToFormat(QImage::Format_ARGB32).save(output, "PNG")) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
