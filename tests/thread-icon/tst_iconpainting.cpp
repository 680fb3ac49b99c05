// Tovi's face icon and the destination icons as drawn: what must be where, at several sizes and
// device pixel ratios. A contact sheet of icons is written to the build tree for review.

#include "avatar/ToviAvatarFacePainter.h"
#include "avatar/ToviAvatarStore.h"
#include "thread-icon/ShareDestinationIconPainter.h"
#include "thread-icon/ThreadIconLineShape.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(ThreadIconColorScheme)

namespace {

constexpr QPointF leftEye = ToviAvatarFacePainter::leftEyeCentre;
constexpr QPointF rightEye = ToviAvatarFacePainter::rightEyeCentre;

// An icon drawn into a transparent (or filled) image whose logical size is side points.
struct Rendering
{
    QImage image;
    double scale; // device pixels per design unit

    QColor at(QPointF design) const
    {
        const QPointF p = design * scale;
        return image.pixelColor(int(std::floor(p.x())), int(std::floor(p.y())));
    }
};

Rendering renderFace(const ToviAvatarFaceState &state, const ToviAvatar &avatar,
                     const QImage &faceImage, double side = 24, double ratio = 4,
                     QColor background = Qt::transparent)
{
    QImage image(int(side * ratio), int(side * ratio), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(background);
    {
        QPainter painter(&image);
        ToviAvatarFacePainter::paint(painter, QRectF(0, 0, side, side), state, avatar.face,
                                     faceImage);
    }
    return {image, ratio * side / 24};
}

// Where a design point of the face lands once the awake face has grown and risen.
QPointF awakePoint(QPointF p)
{
    return QPointF(12, 11) + (p - QPointF(12, 12)) * 1.15;
}

int maxChannelDifference(const QImage &a, const QImage &b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    }
    return worst;
}

bool sameColor(const QColor &a, const QColor &b, int tolerance = 2)
{
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance &&
           std::abs(a.alpha() - b.alpha()) <= tolerance;
}

QByteArray name(const QColor &c)
{
    return c.name(QColor::HexArgb).toLatin1();
}

ShareDestinationThread threadOf(const QString &id, const QString &color)
{
    return {id, u"Thread"_s, color, {}};
}

} // namespace

class TestIconPainting : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classicFacePlacement();
    void mirroredFaceIsDrawnUnmirrored();
    void eyesInOneColumnDrawNoImage();
    void pupilOffset_data();
    void pupilOffset();

    void awakeFace();
    void awakeFaceWithoutImage();
    void restingFace();
    void cutOutsClearOnlyTheIcon();
    void pupilsLook();
    void crispAtEveryDevicePixelRatio_data();
    void crispAtEveryDevicePixelRatio();

    void lineShapeInAWideRectangle();
    void threadOrb_data();
    void threadOrb();
    void toviDestination();
    void contactSheet();
    void toviFaceAsset();
};

void TestIconPainting::classicFacePlacement()
{
    const ToviAvatarFace &face = ToviAvatar::classic().face;
    const auto placement = ToviAvatarFacePainter::facePlacement(face);
    QVERIFY(placement);
    QVERIFY(qAbs(placement->x() - -4.2614) < 1e-4);
    QVERIFY(qAbs(placement->y() - -0.5431) < 1e-4);
    QVERIFY(qAbs(placement->width() - 29.2037) < 1e-4);
    QVERIFY(qAbs(placement->height() - 35.3025) < 1e-4);

    // The image's own eyes land under the drawn eyes.
    const double s = placement->width() / face.width;
    QVERIFY(qAbs(s - 9.5 / 162) < 1e-12);
    const QPointF left = placement->topLeft() + QPointF(face.leftEye.x, face.leftEye.y) * s;
    const QPointF right = placement->topLeft() + QPointF(face.rightEye.x, face.rightEye.y) * s;
    QVERIFY(qAbs(left.x() - 7.25) < 1e-9 && qAbs(left.y() - 10.235) < 1e-3);
    QVERIFY(qAbs(right.x() - 16.75) < 1e-9 && qAbs(right.y() - 10.265) < 1e-3);
}

void TestIconPainting::mirroredFaceIsDrawnUnmirrored()
{
    ToviAvatar avatar = ToviAvatar::classic();
    std::swap(avatar.face.leftEye, avatar.face.rightEye);
    const auto placement = ToviAvatarFacePainter::facePlacement(avatar.face);
    QVERIFY(placement);
    QVERIFY(placement->width() > 0 && placement->height() > 0);
    QVERIFY(qAbs(placement->width() - 29.2037) < 1e-4);

    // An image red on its left half, blue on its right: the left of the disc stays red.
    QImage halves(498, 602, QImage::Format_ARGB32_Premultiplied);
    halves.fill(Qt::blue);
    QPainter(&halves).fillRect(0, 0, 249, 602, Qt::red);
    const Rendering r = renderFace({0.0, {}, Qt::white}, avatar, halves);
    // Resting, the face is covered; look at it awake instead, between the eyes' rows.
    const Rendering awake = renderFace({1.0, {}, Qt::white}, avatar, halves);
    Q_UNUSED(r);
    const QColor left = awake.at(awakePoint({3, 16}));
    const QColor right = awake.at(awakePoint({21, 16}));
    QVERIFY2(left.red() > 200 && left.blue() < 50, name(left));
    QVERIFY2(right.blue() > 200 && right.red() < 50, name(right));
}

void TestIconPainting::eyesInOneColumnDrawNoImage()
{
    ToviAvatar avatar = ToviAvatar::classic();
    avatar.face.rightEye.x = avatar.face.leftEye.x;
    QVERIFY(!ToviAvatarFacePainter::facePlacement(avatar.face));
    // Drawn without the image: the same as with no image at all.
    const Rendering withImage = renderFace({}, avatar, ToviAvatarStore::classicImage());
    const Rendering withoutImage = renderFace({}, avatar, QImage());
    QCOMPARE(withImage.image, withoutImage.image);
}

void TestIconPainting::pupilOffset_data()
{
    QTest::addColumn<QPointF>("look");
    QTest::addColumn<double>("awakeness");
    QTest::addColumn<QPointF>("offset");

    QTest::newRow("long look, awake") << QPointF(3, 4) << 1.0 << QPointF(0.9, 1.2);
    QTest::newRow("short look, awake") << QPointF(0.3, 0.4) << 1.0 << QPointF(0.45, 0.6);
    QTest::newRow("unit look, awake") << QPointF(-1, 0) << 1.0 << QPointF(-1.5, 0);
    QTest::newRow("no look") << QPointF(0, 0) << 1.0 << QPointF(0, 0);
    QTest::newRow("long look, resting") << QPointF(3, 4) << 0.0 << QPointF(0, 0);
    QTest::newRow("short look, resting") << QPointF(0.3, 0.4) << 0.0 << QPointF(0, 0);
}

void TestIconPainting::pupilOffset()
{
    QFETCH(QPointF, look);
    QFETCH(double, awakeness);
    QFETCH(QPointF, offset);
    const QPointF actual = ToviAvatarFacePainter::pupilOffset(look, awakeness);
    QVERIFY(qAbs(actual.x() - offset.x()) < 1e-12);
    QVERIFY(qAbs(actual.y() - offset.y()) < 1e-12);
}

void TestIconPainting::awakeFace()
{
    const ToviAvatar &avatar = ToviAvatar::classic();
    const Rendering r = renderFace({}, avatar, ToviAvatarStore::classicImage());
    const QColor sclera = ToviAvatarFacePainter::scleraColor(avatar.face);

    for (const QPointF eye : {leftEye, rightEye}) {
        const QColor white = r.at(awakePoint(eye + QPointF(2.7, 0)));
        QVERIFY2(sameColor(white, sclera), name(white));
        const QColor pupil = r.at(awakePoint(eye));
        QVERIFY2(sameColor(pupil, ToviAvatarFacePainter::awakePupilColor()), name(pupil));
    }
    // The image shows through: the classic smile below the eyes is darker than the skin.
    const QColor smile = r.at(awakePoint({12.393, 17.28}));
    const QColor cheek = r.at(awakePoint({12.393, 19.5}));
    QVERIFY2(smile.lightness() + 20 < cheek.lightness(), name(smile) + ' ' + name(cheek));
    // 1.15 times as large and one point up: reaching below the resting disc's bottom (23)...
    QCOMPARE(r.at({12, 23.4}).alpha(), 255);
    // ...but no further than 11 + 12.65, and clear outside the disc.
    QCOMPARE(r.at({12, 23.8}).alpha(), 0);
    QCOMPARE(r.at({0.5, 0.5}).alpha(), 0);
    QCOMPARE(r.at({23.5, 23.5}).alpha(), 0);
}

void TestIconPainting::awakeFaceWithoutImage()
{
    ToviAvatar avatar = ToviAvatar::classic();
    avatar.face.skinColor = u"#00ff00"_s; // green, to tell the gradient from the image
    const Rendering r = renderFace({}, avatar, QImage());
    // The gradient disc: lighter (more transparent) near the light at (0.4, 0.3) of the box...
    const QColor lit = r.at(awakePoint({12, 4}));
    const QColor rim = r.at(awakePoint({19.5, 19.5}));
    QVERIFY2(lit.green() > 200 && lit.red() < 10 && lit.blue() < 10, name(lit));
    QVERIFY2(lit.alpha() < 240 && rim.alpha() == 255, name(lit) + ' ' + name(rim));
    // ...with the whites and pupils over it.
    QVERIFY(sameColor(r.at(awakePoint(leftEye + QPointF(2.7, 0))),
                      ToviAvatarFacePainter::scleraColor(avatar.face)));
    QVERIFY(sameColor(r.at(awakePoint(rightEye)), ToviAvatarFacePainter::awakePupilColor()));

    // A colour that does not parse falls back.
    avatar.face.skinColor = u"#0f0"_s;
    avatar.face.scleraColor = u"e3dec7"_s;
    QCOMPARE(ToviAvatarFacePainter::skinColor(avatar.face), ToviAvatarFacePainter::skinFallback());
    QCOMPARE(ToviAvatarFacePainter::scleraColor(avatar.face),
             ToviAvatarFacePainter::scleraFallback());
}

void TestIconPainting::restingFace()
{
    const QColor rest(200, 40, 40);
    const Rendering r =
        renderFace({0.0, {3, 4}, rest}, ToviAvatar::classic(), ToviAvatarStore::classicImage());
    // A flat disc of the rest colour (the face is hidden)...
    for (const QPointF p : {QPointF(12, 18), QPointF(12, 3), QPointF(3, 14), QPointF(21, 14)})
        QVERIFY2(sameColor(r.at(p), rest), name(r.at(p)));
    // ...with two holes, each with a centred dot of the rest colour; the look is ignored.
    for (const QPointF eye : {leftEye, rightEye}) {
        QVERIFY2(sameColor(r.at(eye), rest), name(r.at(eye)));
        for (const QPointF ring : {QPointF(2.8, 0), QPointF(-2.8, 0), QPointF(0, 2.8),
                                   QPointF(0, -2.8), QPointF(2, 2)}) {
            QCOMPARE(r.at(eye + ring).alpha(), 0);
        }
    }
    // Its natural size: nothing past the 22-point disc.
    QCOMPARE(r.at({12, 23.4}).alpha(), 0);
}

void TestIconPainting::cutOutsClearOnlyTheIcon()
{
    // On an opaque background the holes show the background, not a cleared canvas.
    const QColor background(10, 60, 200);
    const Rendering r = renderFace({0.0, {}, Qt::white}, ToviAvatar::classic(),
                                   ToviAvatarStore::classicImage(), 24, 4, background);
    const QColor hole = r.at(leftEye + QPointF(2.8, 0));
    QVERIFY2(sameColor(hole, background), name(hole));
    QVERIFY(sameColor(r.at({12, 18}), Qt::white));
    QVERIFY(sameColor(r.at({0.5, 0.5}), background));
}

void TestIconPainting::pupilsLook()
{
    const ToviAvatar &avatar = ToviAvatar::classic();
    const QColor pupil = ToviAvatarFacePainter::awakePupilColor();
    // Looking right, the pupils sit 1.5 points (times the awake scale) right of the centres.
    const Rendering r = renderFace({1.0, {5, 0}, Qt::white}, avatar, QImage());
    for (const QPointF eye : {leftEye, rightEye}) {
        QVERIFY(sameColor(r.at(awakePoint(eye + QPointF(1.5, 0))), pupil));
        QVERIFY(!sameColor(r.at(awakePoint(eye - QPointF(1.0, 0))), pupil, 40));
    }
}

void TestIconPainting::crispAtEveryDevicePixelRatio_data()
{
    QTest::addColumn<double>("side");
    QTest::addColumn<double>("ratio");
    QTest::addColumn<bool>("awake");

    for (const double side : {24.0, 30.0}) {
        for (const double ratio : {1.0, 2.0}) {
            for (const bool awake : {true, false}) {
                QTest::addRow("%g pt at %gx, %s", side, ratio, awake ? "awake" : "resting")
                    << side << ratio << awake;
            }
        }
    }
}

void TestIconPainting::crispAtEveryDevicePixelRatio()
{
    QFETCH(double, side);
    QFETCH(double, ratio);
    QFETCH(bool, awake);
    // Drawn at a device pixel ratio, the icon has every device pixel of its own: the same pixels
    // as the icon drawn at that many points with ratio 1.
    const ToviAvatarFaceState state{awake ? 1.0 : 0.0, {0.4, -0.3}, QColor(90, 90, 90)};
    const ToviAvatar &avatar = ToviAvatar::classic();
    const QImage &image = ToviAvatarStore::classicImage();
    const Rendering hiDpi = renderFace(state, avatar, image, side, ratio);
    const Rendering plain = renderFace(state, avatar, image, side * ratio, 1);
    QCOMPARE(hiDpi.image.size(), plain.image.size());
    // Antialiasing of one outline differs by a few levels between a scaled and an unscaled
    // painter; an icon drawn at ratio 1 and stretched would differ by far more along every edge.
    constexpr int tolerance = 8;
    QVERIFY(maxChannelDifference(hiDpi.image, plain.image) <= tolerance);

    QImage destination(int(side * ratio), int(side * ratio), QImage::Format_ARGB32_Premultiplied);
    destination.setDevicePixelRatio(ratio);
    destination.fill(Qt::transparent);
    {
        QPainter painter(&destination);
        ShareDestinationIconPainter::paint(painter, QRectF(0, 0, side, side),
                                           threadOf(u"abc"_s, u"blue"_s),
                                           ThreadIconColorScheme::Light, avatar, image);
    }
    QImage plainDestination(destination.size(), QImage::Format_ARGB32_Premultiplied);
    plainDestination.fill(Qt::transparent);
    {
        QPainter painter(&plainDestination);
        ShareDestinationIconPainter::paint(painter, QRectF(0, 0, side * ratio, side * ratio),
                                           threadOf(u"abc"_s, u"blue"_s),
                                           ThreadIconColorScheme::Light, avatar, image);
    }
    destination.setDevicePixelRatio(1);
    const int difference = maxChannelDifference(destination, plainDestination);
    QVERIFY2(difference <= tolerance, QByteArray::number(difference));
}

void TestIconPainting::lineShapeInAWideRectangle()
{
    const ThreadIconGeometry orb(u"abc", ThreadIconShape::Orb, true);
    ThreadIconProjectedLine front;
    for (const auto &line : orb.projectedLines(0, 1)) {
        if (line.emphasis == 1)
            front = line;
    }
    // A 100 × 40 rectangle: the icon is a centred 40-point square.
    const QPainterPath path = ThreadIconLineShape::path(front, 1.2, QRectF(0, 0, 100, 40));
    const QRectF bounds = path.boundingRect();
    const double scale = 40.0 / 24;
    const double outer = (10.925 + 0.6) * scale;
    QVERIFY(qAbs(bounds.center().x() - 50) < 0.05);
    QVERIFY(qAbs(bounds.center().y() - 20) < 0.05);
    QVERIFY2(qAbs(bounds.width() / 2 - outer) < 0.05, QByteArray::number(bounds.width()));
    // The outline is a band as wide as the stroke around the circle.
    QVERIFY(path.contains(QPointF(50 + 10.925 * scale, 20)));
    QVERIFY(!path.contains(QPointF(50 + 10.925 * scale + 0.7 * scale, 20)));
    QVERIFY(!path.contains(QPointF(50 + 10.925 * scale - 0.7 * scale, 20)));

    // Degenerate lines give empty paths.
    ThreadIconProjectedLine two{{{1, 1}, {2, 2}}, true, {0, 0}, 0, 1, 0};
    QVERIFY(ThreadIconLineShape::path(two, 1, QRectF(0, 0, 24, 24)).isEmpty());
    QVERIFY(ThreadIconLineShape::path({}, 1, QRectF(0, 0, 24, 24)).isEmpty());
    two.closed = false;
    QVERIFY(!ThreadIconLineShape::path(two, 1, QRectF(0, 0, 24, 24)).isEmpty());
}

void TestIconPainting::threadOrb_data()
{
    QTest::addColumn<QString>("color");
    QTest::addColumn<ThreadIconColorScheme>("scheme");
    QTest::addColumn<double>("side");

    QTest::newRow("blue, light, 24") << u"blue"_s << ThreadIconColorScheme::Light << 24.0;
    QTest::newRow("blue, dark, 30") << u"blue"_s << ThreadIconColorScheme::Dark << 30.0;
    QTest::newRow("hex, dark, 24") << u"#ff0000"_s << ThreadIconColorScheme::Dark << 24.0;
    QTest::newRow("unknown, light, 30") << u"teal"_s << ThreadIconColorScheme::Light << 30.0;
}

void TestIconPainting::threadOrb()
{
    QFETCH(QString, color);
    QFETCH(ThreadIconColorScheme, scheme);
    QFETCH(double, side);
    constexpr double ratio = 4;
    QImage image(int(side * ratio), int(side * ratio), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        ShareDestinationIconPainter::paint(painter, QRectF(0, 0, side, side),
                                           threadOf(u"abc"_s, color), scheme, ToviAvatar::classic(),
                                           QImage());
    }
    const QColor expected = ShareDestinationIconPainter::toQColor(ThreadIconPalette::threadColor(
        {QStringView(color).utf16(), std::size_t(color.size())}, scheme, true));
    // The front circle, at full opacity, in the thread's colour: 0.82 of the icon, radius 10.925
    // of 24 design units.
    const double radius = side * 0.82 * 10.925 / 24;
    const auto at = [&](QPointF p) {
        return image.pixelColor(int(p.x() * ratio), int(p.y() * ratio));
    };
    const QPointF centre(side / 2, side / 2);
    const QColor onCircle = at(centre + QPointF(0, radius));
    QVERIFY2(sameColor(onCircle, expected, 3), name(onCircle) + ' ' + name(expected));
    // Nothing outside the orb.
    QCOMPARE(at(centre + QPointF(0, radius + side * 0.82 / 24 * 1.2)).alpha(), 0);
    QCOMPARE(at({0.5, 0.5}).alpha(), 0);
    QCOMPARE(at(centre + QPointF(radius * 0.8, radius * 0.8)).alpha(), 0);
}

void TestIconPainting::toviDestination()
{
    constexpr double side = 30;
    QImage image(int(side * 4), int(side * 4), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(4);
    image.fill(Qt::transparent);
    const ToviAvatar &avatar = ToviAvatar::classic();
    {
        QPainter painter(&image);
        ShareDestinationIconPainter::paint(painter, QRectF(0, 0, side, side),
                                           ShareDestination::tovi(), ThreadIconColorScheme::Dark,
                                           avatar, ToviAvatarStore::classicImage());
    }
    // The awake face, scaled from 24 to 30 points.
    const double scale = side / 24 * 4;
    const QPointF white = awakePoint(leftEye + QPointF(2.7, 0)) * scale;
    const QPointF pupil = awakePoint(rightEye) * scale;
    QVERIFY(sameColor(image.pixelColor(white.toPoint()),
                      ToviAvatarFacePainter::scleraColor(avatar.face)));
    QVERIFY(sameColor(image.pixelColor(pupil.toPoint()), ToviAvatarFacePainter::awakePupilColor()));
}

void TestIconPainting::contactSheet()
{
    // Twelve threads and Tovi, light above and dark below, at 24 and 30 points.
    const QStringList colors{u"blue"_s,   u"purple"_s,  u"pink"_s,    u"red"_s,
                             u"orange"_s, u"yellow"_s,  u"green"_s,   u"cyan"_s,
                             u"gray"_s,   u"#3b82f6"_s, u"unknown"_s, u"blue"_s};
    constexpr int cell = 40;
    constexpr double ratio = 2;
    QImage sheet(int(cell * 13 * ratio), int(cell * 4 * ratio),
                 QImage::Format_ARGB32_Premultiplied);
    sheet.setDevicePixelRatio(ratio);
    sheet.fill(Qt::transparent);
    QPainter painter(&sheet);
    int row = 0;
    for (const auto scheme : {ThreadIconColorScheme::Light, ThreadIconColorScheme::Dark}) {
        for (const double side : {24.0, 30.0}) {
            painter.fillRect(QRectF(0, row * cell, cell * 13, cell),
                             scheme == ThreadIconColorScheme::Light ? QColor(246, 246, 246)
                                                                    : QColor(30, 30, 30));
            for (int i = 0; i < 13; ++i) {
                const QRectF box(i * cell + (cell - side) / 2, row * cell + (cell - side) / 2, side,
                                 side);
                const ShareDestination destination =
                    i == 12 ? ShareDestination::tovi()
                            : ShareDestination(threadOf(u"thread-%1"_s.arg(i), colors[i]));
                ShareDestinationIconPainter::paint(painter, box, destination, scheme,
                                                   ToviAvatar::classic(),
                                                   ToviAvatarStore::classicImage());
            }
            ++row;
        }
    }
    painter.end();
    const QString path = QStringLiteral(ZELT_REVIEW_DIR) + u"/contact-sheet.png"_s;
    QVERIFY(sheet.save(path));
    qInfo("contact sheet: %s", qPrintable(path));
}

void TestIconPainting::toviFaceAsset()
{
    // The signed-out notice's picture: square, the face in the middle, clear corners.
    const QImage face(u":/avatar/ToviFace.png"_s);
    QVERIFY(!face.isNull());
    QCOMPARE(face.width(), face.height());
    QCOMPARE(face.pixelColor(2, 2).alpha(), 0);
    QCOMPARE(face.pixelColor(face.width() / 2, face.height() - 3).alpha(), 0);
    QCOMPARE(face.pixelColor(face.width() / 2, face.height() * 3 / 4).alpha(), 255);
}

QTEST_MAIN(TestIconPainting)
#include "tst_iconpainting.moc"
