// Colour texts, the thread palette and the OKLCH conversion.

#include "avatar/SrgbColor.h"
#include "thread-icon/ThreadIconPalette.h"

#include <QTest>

#include <cmath>

Q_DECLARE_METATYPE(ThreadIconColorScheme)
Q_DECLARE_METATYPE(SrgbColor)

using namespace Qt::StringLiterals;

namespace {

std::u16string_view view(const QString &text)
{
    const QStringView v(text);
    return {v.utf16(), std::size_t(v.size())};
}

QByteArray describe(const SrgbColor &c)
{
    return QByteArray::number(c.red, 'g', 17) + ", " + QByteArray::number(c.green, 'g', 17) + ", " +
           QByteArray::number(c.blue, 'g', 17);
}

bool near(const SrgbColor &a, const SrgbColor &b, double tolerance)
{
    return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
           std::abs(a.blue - b.blue) <= tolerance;
}

} // namespace

class TestThreadIconColor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hexColor_data();
    void hexColor();
    void oklchReferences_data();
    void oklchReferences();
    void threadColor_data();
    void threadColor();
};

void TestThreadIconColor::hexColor_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("rgb");

    QTest::newRow("lower case") << u"#505238"_s << true << 0x505238;
    QTest::newRow("upper case") << u"#E3DEC7"_s << true << 0xE3DEC7;
    QTest::newRow("mixed case") << u"#e3DeC7"_s << true << 0xE3DEC7;
    QTest::newRow("black") << u"#000000"_s << true << 0x000000;
    QTest::newRow("white") << u"#ffffff"_s << true << 0xFFFFFF;
    QTest::newRow("three digits") << u"#fff"_s << false << 0;
    QTest::newRow("no number sign") << u"505238"_s << false << 0;
    QTest::newRow("eight characters") << u"#5052380"_s << false << 0;
    QTest::newRow("with alpha") << u"#505238ff"_s << false << 0;
    QTest::newRow("not hex") << u"#50523g"_s << false << 0;
    QTest::newRow("sign inside") << u"#+50523"_s << false << 0;
    QTest::newRow("space") << u"#50523 "_s << false << 0;
    QTest::newRow("full-width digit") << u"#50523"_s + QChar(0xFF10) << false << 0;
    QTest::newRow("empty") << QString() << false << 0;
}

void TestThreadIconColor::hexColor()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, rgb);
    const auto color = SrgbColor::fromHex(view(text));
    QCOMPARE(color.has_value(), valid);
    if (valid) {
        QCOMPARE(color->red, ((rgb >> 16) & 0xFF) / 255.0);
        QCOMPARE(color->green, ((rgb >> 8) & 0xFF) / 255.0);
        QCOMPARE(color->blue, (rgb & 0xFF) / 255.0);
    }
}

void TestThreadIconColor::oklchReferences_data()
{
    QTest::addColumn<double>("lightness");
    QTest::addColumn<double>("chroma");
    QTest::addColumn<double>("hue");
    QTest::addColumn<SrgbColor>("expected");

    // Published OKLCH coordinates of sRGB primaries and white.
    QTest::newRow("white") << 1.0 << 0.0 << 0.0 << SrgbColor{1, 1, 1};
    QTest::newRow("black") << 0.0 << 0.0 << 0.0 << SrgbColor{0, 0, 0};
    QTest::newRow("red") << 0.627955 << 0.257683 << 29.2339 << SrgbColor{1, 0, 0};
    QTest::newRow("green") << 0.86644 << 0.294827 << 142.4953 << SrgbColor{0, 1, 0};
    QTest::newRow("blue") << 0.452014 << 0.313214 << 264.052 << SrgbColor{0, 0, 1};
    // Out of gamut: channels clamp instead of running past 0 or 1.
    QTest::newRow("too vivid") << 0.7 << 0.5 << 150.0 << SrgbColor{0, 0.8751578, 0};
}

void TestThreadIconColor::oklchReferences()
{
    QFETCH(double, lightness);
    QFETCH(double, chroma);
    QFETCH(double, hue);
    QFETCH(SrgbColor, expected);
    const SrgbColor color = ThreadIconPalette::oklchColor(lightness, chroma, hue);
    QVERIFY2(near(color, expected, 2e-3), describe(color).constData());
    for (const double channel : {color.red, color.green, color.blue})
        QVERIFY(channel >= 0 && channel <= 1);
}

void TestThreadIconColor::threadColor_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<ThreadIconColorScheme>("scheme");
    QTest::addColumn<bool>("prominent");
    QTest::addColumn<SrgbColor>("expected");

    const auto oklch = &ThreadIconPalette::oklchColor;
    const auto dark = ThreadIconColorScheme::Dark;
    const auto light = ThreadIconColorScheme::Light;

    // The destination icon's colours: prominent.
    QTest::newRow("blue, dark") << u"blue"_s << dark << true << oklch(0.84, 0.18, 250);
    QTest::newRow("blue, light") << u"blue"_s << light << true << oklch(0.67 - 0.08, 0.272, 250);
    QTest::newRow("cyan, light") << u"cyan"_s << light << true << oklch(0.63 - 0.08, 0.272, 205);
    QTest::newRow("red, dark") << u"red"_s << dark << true << oklch(0.84, 0.18, 25);
    QTest::newRow("gray, light") << u"gray"_s << light << true << oklch(0.59, 0, 0);
    QTest::newRow("gray, dark") << u"gray"_s << dark << true << oklch(0.84, 0, 0);
    // Plain.
    QTest::newRow("blue, dark, plain") << u"blue"_s << dark << false << oklch(0.7, 0.1, 250);
    QTest::newRow("green, light, plain") << u"green"_s << light << false << oklch(0.65, 0.16, 150);
    // Hex colours pass unchanged in both schemes.
    QTest::newRow("hex, light") << u"#FF0000"_s << light << true << SrgbColor{1, 0, 0};
    QTest::newRow("hex, dark") << u"#ff0000"_s << dark << false << SrgbColor{1, 0, 0};
    // Anything else is gray.
    QTest::newRow("capitalised name") << u"Blue"_s << light << true << oklch(0.59, 0, 0);
    QTest::newRow("unknown") << u"teal"_s << dark << true << oklch(0.84, 0, 0);
    QTest::newRow("short hex") << u"#f00"_s << light << false << oklch(0.67, 0, 0);
    QTest::newRow("empty") << QString() << light << true << oklch(0.59, 0, 0);
}

void TestThreadIconColor::threadColor()
{
    QFETCH(QString, name);
    QFETCH(ThreadIconColorScheme, scheme);
    QFETCH(bool, prominent);
    QFETCH(SrgbColor, expected);
    const SrgbColor color = ThreadIconPalette::threadColor(view(name), scheme, prominent);
    QVERIFY2(near(color, expected, 1e-12), describe(color).constData());
    if (name == "gray"_L1 || name == "Blue"_L1) {
        // Achromatic: a true grey.
        QVERIFY(std::abs(color.red - color.green) < 1e-6);
        QVERIFY(std::abs(color.green - color.blue) < 1e-6);
    }
}

QTEST_APPLESS_MAIN(TestThreadIconColor)
#include "tst_threadiconcolor.moc"
