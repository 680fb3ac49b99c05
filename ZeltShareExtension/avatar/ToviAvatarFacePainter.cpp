#include "ToviAvatarFacePainter.h"

#include "SrgbColor.h"

#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace {

QColor toQColor(const SrgbColor &color)
{
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue));
}

QColor parsedOr(const QString &text, const QColor &fallback)
{
    const QStringView view(text);
    const auto color = SrgbColor::fromHex({view.utf16(), std::size_t(view.size())});
    return color ? toQColor(*color) : fallback;
}

QColor mixed(const QColor &from, const QColor &to, double amount)
{
    const auto channel = [amount](float a, float b) { return float(a + (b - a) * amount); };
    return QColor::fromRgbF(channel(from.redF(), to.redF()), channel(from.greenF(), to.greenF()),
                            channel(from.blueF(), to.blueF()), channel(from.alphaF(), to.alphaF()));
}

QRectF disc(QPointF centre, double diameter)
{
    return {centre.x() - diameter / 2, centre.y() - diameter / 2, diameter, diameter};
}

// The icon's own transform: the design box scaled about its centre and raised while awake.
QTransform groupTransform(double awakeness)
{
    const double centre = ToviAvatarFacePainter::designSize / 2;
    const double scale = 1 + (ToviAvatarFacePainter::awakeScale - 1) * awakeness;
    QTransform transform;
    transform.translate(centre, centre - ToviAvatarFacePainter::awakeRaise * awakeness);
    transform.scale(scale, scale);
    transform.translate(-centre, -centre);
    return transform;
}

} // namespace

QColor ToviAvatarFacePainter::skinFallback()
{
    return QColor::fromRgbF(0.34f, 0.38f, 0.23f);
}

QColor ToviAvatarFacePainter::scleraFallback()
{
    return QColor::fromRgbF(0.89f, 0.86f, 0.75f);
}

QColor ToviAvatarFacePainter::awakePupilColor()
{
    return QColor::fromRgbF(0.10f, 0.09f, 0.08f);
}

QColor ToviAvatarFacePainter::skinColor(const ToviAvatarFace &face)
{
    return parsedOr(face.skinColor, skinFallback());
}

QColor ToviAvatarFacePainter::scleraColor(const ToviAvatarFace &face)
{
    return parsedOr(face.scleraColor, scleraFallback());
}

std::optional<QRectF> ToviAvatarFacePainter::facePlacement(const ToviAvatarFace &face)
{
    const double s = 9.5 / (face.rightEye.x - face.leftEye.x);
    const double x = 12 - s * (face.leftEye.x + face.rightEye.x) / 2;
    const double y = 10.25 - s * (face.leftEye.y + face.rightEye.y) / 2;
    const QRectF rect = QRectF(x, y, face.width * s, face.height * s).normalized();
    if (!std::isfinite(s) || !std::isfinite(rect.x()) || !std::isfinite(rect.y()) ||
        !std::isfinite(rect.width()) || !std::isfinite(rect.height())) {
        return std::nullopt;
    }
    return rect;
}

QPointF ToviAvatarFacePainter::pupilOffset(QPointF look, double awakeness)
{
    const double length = std::hypot(look.x(), look.y());
    const double travel = pupilTravel * awakeness;
    return look / std::max(length, 1.0) * travel;
}

void ToviAvatarFacePainter::paint(QPainter &painter, const QRectF &box,
                                  const ToviAvatarFaceState &state, const ToviAvatarFace &face,
                                  const QImage &image)
{
    QPaintDevice *device = painter.device();
    if (!device || box.isEmpty())
        return;

    QTransform toBox;
    toBox.translate(box.x(), box.y());
    toBox.scale(box.width() / designSize, box.height() / designSize);
    const QTransform toDevice = groupTransform(state.awakeness) * toBox * painter.deviceTransform();

    // The layer covers the icon's pixels only, in device pixels, so it stays sharp at any device
    // pixel ratio.
    const QRect deviceBounds(0, 0, device->width(), device->height());
    const QRect area = toDevice.mapRect(QRectF(0, 0, designSize, designSize))
                           .toAlignedRect()
                           .adjusted(-1, -1, 1, 1)
                           .intersected(deviceBounds);
    if (area.isEmpty())
        return;
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter layerPainter(&layer);
        layerPainter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        layerPainter.setTransform(toDevice * QTransform::fromTranslate(-area.x(), -area.y()));
        paintLayer(layerPainter, state, face, image);
    }

    painter.save();
    const double ratio = device->devicePixelRatioF();
    painter.setTransform(QTransform::fromScale(1 / ratio, 1 / ratio));
    painter.drawImage(area.topLeft(), layer);
    painter.restore();
}

void ToviAvatarFacePainter::paintLayer(QPainter &painter, const ToviAvatarFaceState &state,
                                       const ToviAvatarFace &face, const QImage &image)
{
    const double awake = std::clamp(state.awakeness, 0.0, 1.0);
    const QPointF centre(designSize / 2, designSize / 2);
    const QRectF faceDisc = disc(centre, faceDiameter);
    painter.setPen(Qt::NoPen);

    // The face: a lit skin disc, and the face image over it, both cut to the disc.
    {
        painter.save();
        QPainterPath clip;
        clip.addEllipse(faceDisc);
        painter.setClipPath(clip);
        const QColor skin = skinColor(face);
        QColor shaded = skin;
        shaded.setAlphaF(0.85f);
        QRadialGradient light(faceDisc.x() + 0.4 * faceDisc.width(),
                              faceDisc.y() + 0.3 * faceDisc.height(), 14);
        light.setColorAt(0, shaded);
        light.setColorAt(1, skin);
        painter.setBrush(light);
        painter.drawEllipse(faceDisc);
        if (!image.isNull()) {
            if (const auto placement = facePlacement(face))
                painter.drawImage(*placement, image);
        }
        painter.restore();
    }

    // The resting disc covers the face.
    painter.setOpacity(1 - awake);
    painter.setBrush(state.restColor);
    painter.drawEllipse(faceDisc);

    const QPointF offset = pupilOffset(state.look, state.awakeness);
    const QColor pupil = mixed(state.restColor, awakePupilColor(), awake);
    for (const QPointF eye : {leftEyeCentre, rightEyeCentre}) {
        painter.setOpacity(awake);
        painter.setBrush(scleraColor(face));
        painter.drawEllipse(disc(eye, eyeDiameter));

        // Resting, the eye is a hole through everything the icon drew below it.
        painter.setOpacity(1 - awake);
        painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        painter.setBrush(Qt::black);
        painter.drawEllipse(disc(eye, eyeDiameter));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

        painter.setOpacity(1);
        painter.setBrush(pupil);
        painter.drawEllipse(disc(eye + offset, pupilDiameter));
    }
}
