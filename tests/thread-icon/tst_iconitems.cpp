// ToviAvatarIcon and ShareDestinationIcon as Qt Quick items: created from QML, drawn in a
// window, animated, and following the application palette.

#include "avatar/ToviAvatarFacePainter.h"
#include "avatar/ToviAvatarIcon.h"
#include "thread-icon/ShareDestinationIcon.h"
#include "thread-icon/ShareDestinationIconPainter.h"

#include <QGuiApplication>
#include <QPalette>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSignalSpy>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Zelt_SharePlugin)

using namespace Qt::StringLiterals;

namespace {

constexpr const char *scene = R"(
import QtQuick
import Zelt.Share

Item {
    width: 120
    height: 60
    ToviAvatarIcon {
        objectName: "face"
        x: 0
        y: 0
        size: 48
        awake: false
        restColor: "#c83232"
    }
    ShareDestinationIcon {
        objectName: "orb"
        x: 60
        y: 0
        size: 48
        tovi: false
        threadId: "abc"
        threadColor: "blue"
    }
}
)";

// The window's own colour, which the icons' holes must show.
const QColor backdrop(0, 0, 255);

QPalette darkPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(30, 30, 30));
    palette.setColor(QPalette::WindowText, QColor(240, 240, 240));
    return palette;
}

QPalette lightPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(246, 246, 246));
    palette.setColor(QPalette::WindowText, QColor(20, 20, 20));
    return palette;
}

bool sameColor(const QColor &a, const QColor &b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class TestIconItems : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void createdFromQml();
    void wakingSpringsAndSettles();
    void lookEasesToItsTarget();
    void destinationFollowsThePalette();
    void springCurve();

private:
    QImage grab();

    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    std::unique_ptr<QQuickItem> m_root;
    ToviAvatarIcon *m_face = nullptr;
    ShareDestinationIcon *m_orb = nullptr;
};

void TestIconItems::initTestCase()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

void TestIconItems::init()
{
    QGuiApplication::setPalette(lightPalette());
    m_engine = std::make_unique<QQmlEngine>();
    m_engine->addImportPath(u"qrc:/qt/qml"_s);
    QQmlComponent component(m_engine.get());
    component.setData(scene, QUrl(u"qrc:/scene.qml"_s));
    m_root.reset(qobject_cast<QQuickItem *>(component.create()));
    QVERIFY2(m_root, qPrintable(component.errorString()));
    m_face = m_root->findChild<ToviAvatarIcon *>(u"face"_s);
    m_orb = m_root->findChild<ShareDestinationIcon *>(u"orb"_s);
    QVERIFY(m_face && m_orb);

    m_window = std::make_unique<QQuickWindow>();
    m_window->setColor(backdrop);
    m_window->resize(120, 60);
    m_root->setParentItem(m_window->contentItem());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestIconItems::cleanup()
{
    m_root.reset();
    m_window.reset();
    m_engine.reset();
    QGuiApplication::setPalette(lightPalette());
}

QImage TestIconItems::grab()
{
    QImage image = m_window->grabWindow();
    image.save(QStringLiteral(ZELT_REVIEW_DIR) + u"/items.png"_s);
    return image;
}

void TestIconItems::createdFromQml()
{
    // Set before the item was shown: no animation, the resting face at once.
    QCOMPARE(m_face->isAwake(), false);
    QCOMPARE(m_face->shownState().awakeness, 0.0);
    QVERIFY(!m_face->isAnimating());
    QCOMPARE(m_face->restColor(), QColor(u"#c83232"_s));
    // The item leaves room around the icon for the awake face.
    QCOMPARE(m_face->implicitWidth(), 48 + 2 * 4.0);
    QCOMPARE(m_face->bleed(), 4.0);
    QVERIFY(!m_orb->isTovi());
    QCOMPARE(m_orb->destination().threadID(), u"abc"_s);

    const QImage image = grab();
    const double ratio = m_window->devicePixelRatio();
    QCOMPARE(image.width(), qRound(120 * ratio));
    // The resting face: the rest colour around a transparent eye ring.
    const double unit = 48.0 / 24;
    const auto facePixel = [&](QPointF design) {
        const QPointF p = (QPointF(4, 4) + design * unit) * ratio;
        return image.pixelColor(p.toPoint());
    };
    QVERIFY(sameColor(facePixel({12, 18}), QColor(u"#c83232"_s)));
    QVERIFY(sameColor(facePixel(ToviAvatarFacePainter::leftEyeCentre + QPointF(2.8, 0)), backdrop));
}

void TestIconItems::wakingSpringsAndSettles()
{
    QSignalSpy changed(m_face, &ToviAvatarIcon::awakeChanged);
    m_face->setAwake(true);
    QCOMPARE(changed.count(), 1);
    QVERIFY(m_face->isAnimating());
    double highest = 0;
    // The spring overshoots on its way to awake, then settles exactly there.
    QTRY_VERIFY_WITH_TIMEOUT(
        (highest = std::max(highest, m_face->shownState().awakeness), !m_face->isAnimating()),
        10000);
    QCOMPARE(m_face->shownState().awakeness, 1.0);

    m_face->setAwake(true);
    QCOMPARE(changed.count(), 1);
    m_face->setAwake(false);
    QTRY_VERIFY_WITH_TIMEOUT(!m_face->isAnimating(), 10000);
    QCOMPARE(m_face->shownState().awakeness, 0.0);
}

void TestIconItems::lookEasesToItsTarget()
{
    m_face->setAwake(true);
    m_face->setLook({3, 4});
    QTRY_VERIFY_WITH_TIMEOUT(!m_face->isAnimating(), 10000);
    QCOMPARE(m_face->shownState().look, QPointF(3, 4));
    QCOMPARE(m_face->look(), QPointF(3, 4));
}

void TestIconItems::destinationFollowsThePalette()
{
    const double ratio = m_window->devicePixelRatio();
    // The front circle of the orb, straight below its centre.
    const double radius = 48 * 0.82 * 10.925 / 24;
    const QPointF onCircle = (QPointF(60 + 4 + 24, 4 + 24 + radius)) * ratio;
    const auto expected = [](ThreadIconColorScheme scheme) {
        return ShareDestinationIconPainter::toQColor(
            ThreadIconPalette::threadColor(u"blue", scheme, true));
    };

    QVERIFY(sameColor(grab().pixelColor(int(onCircle.x()), int(onCircle.y())),
                      expected(ThreadIconColorScheme::Light)));
    // A dark sheet sets its own palette, not the application's: the background it draws on
    // picks the scheme, and an unset one goes back to the application's.
    m_orb->setBackground(QColor(0x24, 0x24, 0x26));
    QTRY_VERIFY(sameColor(grab().pixelColor(int(onCircle.x()), int(onCircle.y())),
                          expected(ThreadIconColorScheme::Dark)));
    m_orb->setBackground(QColor());
    QTRY_VERIFY(sameColor(grab().pixelColor(int(onCircle.x()), int(onCircle.y())),
                          expected(ThreadIconColorScheme::Light)));
    QGuiApplication::setPalette(darkPalette());
    QTRY_VERIFY(sameColor(grab().pixelColor(int(onCircle.x()), int(onCircle.y())),
                          expected(ThreadIconColorScheme::Dark)));

    // Another destination redraws too: Tovi's awake face, its right pupil at the drawn eye.
    m_orb->setDestination(ShareDestination::tovi());
    QVERIFY(m_orb->isTovi());
    const QPointF pupil =
        (QPointF(64, 4) +
         (QPointF(12, 11) + (ToviAvatarFacePainter::rightEyeCentre - QPointF(12, 12)) * 1.15) *
             2.0) *
        ratio;
    QTRY_VERIFY(
        sameColor(grab().pixelColor(pupil.toPoint()), ToviAvatarFacePainter::awakePupilColor(), 6));
}

void TestIconItems::springCurve()
{
    QCOMPARE(ToviAvatarIcon::springProgress(0), 0.0);
    QCOMPARE(ToviAvatarIcon::springProgress(1), 1.0);
    // Underdamped: past the target on the way, and nearly settled by the end.
    double highest = 0;
    for (int i = 0; i <= 100; ++i)
        highest = std::max(highest, ToviAvatarIcon::springProgress(i / 100.0));
    QVERIFY(highest > 1.1);
    QVERIFY(std::abs(ToviAvatarIcon::springProgress(0.99) - 1) < 0.01);
}

QTEST_MAIN(TestIconItems)
#include "tst_iconitems.moc"
