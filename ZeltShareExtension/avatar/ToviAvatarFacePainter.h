#pragma once

#include "ToviAvatar.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPointF>
#include <QRectF>

#include <optional>

// What the face icon shows at one moment.
struct ToviAvatarFaceState
{
    // 1 awake, 0 resting; the spring between the two may carry it a little past either end.
    double awakeness = 1;
    // Where the pupils look; only its direction and a length up to 1 matter.
    QPointF look;
    // The resting disc and the resting pupils.
    QColor restColor = Qt::white;
};

// Tovi's face as a round icon, drawn in a 24-point design box: the avatar's face image cropped to
// a disc and placed so that its own eyes sit under two drawn eyes, whose pupils look around.
// Resting, the face turns into a flat disc with two hollow eyes.
class ToviAvatarFacePainter
{
public:
    static constexpr double designSize = 24;
    // The drawn eyes' centres in the design box.
    static constexpr QPointF leftEyeCentre{7.25, 10.25};
    static constexpr QPointF rightEyeCentre{16.75, 10.25};
    static constexpr double eyeDiameter = 7.5;
    static constexpr double pupilDiameter = 3;
    static constexpr double faceDiameter = 22;
    // Awake, the face is this much larger and one point higher.
    static constexpr double awakeScale = 1.15;
    static constexpr double awakeRaise = 1;
    // Awake, a full look moves the pupils this far.
    static constexpr double pupilTravel = 1.5;

    static QColor skinFallback();
    static QColor scleraFallback();
    static QColor awakePupilColor();
    static QColor skinColor(const ToviAvatarFace &face);
    static QColor scleraColor(const ToviAvatarFace &face);

    // Where the whole face image goes in the design box so that the midpoint of its eyes lands
    // on (12, 10.25) with 9.5 points between them; none when the eyes give no finite scale.
    static std::optional<QRectF> facePlacement(const ToviAvatarFace &face);
    // How far the pupils move from the eye centres.
    static QPointF pupilOffset(QPointF look, double awakeness);

    // Draws the icon with its design box mapped onto box (a square). Everything the icon draws is
    // composed on its own first, so the hollow eyes clear only the icon, never what lies below.
    // image may be null: then the disc shows only its skin gradient.
    static void paint(QPainter &painter, const QRectF &box, const ToviAvatarFaceState &state,
                      const ToviAvatarFace &face, const QImage &image);

private:
    static void paintLayer(QPainter &painter, const ToviAvatarFaceState &state,
                           const ToviAvatarFace &face, const QImage &image);
};
