#include "ImagePreparation.h"
#include "TestImages.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

const QColor darkWindow(40, 44, 52);

QImage decoded(const QByteArray &jpeg)
{
    return QImage::fromData(jpeg, "JPEG");
}

} // namespace

class TestImagePreparation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The longer side is brought down to 2560 and never up; the preview follows the JPEG.
    void sizes_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<int>("previewSize");
        QTest::addColumn<QSize>("prepared");
        QTest::addColumn<QSize>("preview");
        QTest::newRow("4000x3000")
            << QSize(4000, 3000) << 1200 << QSize(2560, 1920) << QSize(1200, 900);
        QTest::newRow("portrait") << QSize(3000, 4000) << 144 << QSize(1920, 2560)
                                  << QSize(108, 144);
        QTest::newRow("1000x800 stays")
            << QSize(1000, 800) << 1200 << QSize(1000, 800) << QSize(1000, 800);
        QTest::newRow("small preview")
            << QSize(1000, 800) << 144 << QSize(1000, 800) << QSize(144, 115);
        QTest::newRow("tiny") << QSize(3, 2) << 144 << QSize(3, 2) << QSize(3, 2);
        // Narrower than the preview's JPEG shrink factor: the preview keeps its one pixel.
        QTest::newRow("thin strip") << QSize(2, 5000) << 144 << QSize(1, 2560) << QSize(1, 144);
    }

    void sizes()
    {
        QFETCH(QSize, source);
        QFETCH(int, previewSize);
        QFETCH(QSize, prepared);
        QFETCH(QSize, preview);
        const QByteArray data =
            TestImages::encoded(TestImages::quadrants(source.width(), source.height()), "JPEG", 90);

        const auto result = ImagePreparation::preparedImage(data, darkWindow, previewSize);
        QVERIFY(result);
        QCOMPARE(decoded(result->jpegData).size(), prepared);
        QCOMPARE(result->preview.size(), preview);
        QCOMPARE(TestImages::jpegQuality(result->jpegData), 86);
        // The quadrants are where they were: nothing turned or mirrored.
        const QImage jpeg = decoded(result->jpegData);
        for (int corner = 0; corner < 4 && std::min(source.width(), source.height()) >= 16;
             ++corner) {
            const double fx = corner % 2 ? 0.75 : 0.25;
            const double fy = corner / 2 ? 0.75 : 0.25;
            QVERIFY(TestImages::isClose(TestImages::colorAt(jpeg, fx, fy),
                                        TestImages::quadrantColors[corner]));
            QVERIFY(TestImages::isClose(TestImages::colorAt(result->preview, fx, fy),
                                        TestImages::quadrantColors[corner]));
        }
    }

    // Whatever the orientation tag, the prepared image and its preview are upright, and the
    // JPEG carries no tag that would turn it again.
    void orientations_data()
    {
        QTest::addColumn<int>("orientation");
        for (int orientation = 1; orientation <= 8; ++orientation)
            QTest::addRow("orientation %d", orientation) << orientation;
    }

    void orientations()
    {
        QFETCH(int, orientation);
        const QImage upright = TestImages::quadrants(300, 200);
        const QByteArray data = TestImages::orientedJPEG(upright, orientation);

        const auto result = ImagePreparation::preparedImage(data, darkWindow, 144);
        QVERIFY(result);
        const QImage jpeg = decoded(result->jpegData);
        QCOMPARE(jpeg.size(), QSize(300, 200));
        QCOMPARE(result->preview.size(), QSize(144, 96));
        QVERIFY(!result->jpegData.contains("Exif"));
        for (int corner = 0; corner < 4; ++corner) {
            const double fx = corner % 2 ? 0.75 : 0.25;
            const double fy = corner / 2 ? 0.75 : 0.25;
            QVERIFY2(TestImages::isClose(TestImages::colorAt(jpeg, fx, fy),
                                         TestImages::quadrantColors[corner]),
                     qPrintable(u"corner %1 is %2"_s.arg(corner).arg(
                         TestImages::colorAt(jpeg, fx, fy).name())));
            QVERIFY(TestImages::isClose(TestImages::colorAt(result->preview, fx, fy),
                                        TestImages::quadrantColors[corner]));
        }
    }

    // Transparent areas take the background colour, half-transparent ones a blend; colour
    // depths and models other than 8-bit RGB end up as 8-bit sRGB.
    void colours_data()
    {
        QTest::addColumn<QImage>("source");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("expected");

        QImage transparent(200, 100, QImage::Format_ARGB32);
        transparent.fill(Qt::transparent);
        QTest::newRow("transparent on dark") << transparent << darkWindow << darkWindow;
        QTest::newRow("transparent on light")
            << transparent << QColor(236, 236, 236) << QColor(236, 236, 236);

        QImage half(200, 100, QImage::Format_ARGB32);
        half.fill(QColor(255, 0, 0, 128));
        QTest::newRow("half red on white") << half << QColor(Qt::white) << QColor(255, 127, 127);

        QImage deep(200, 100, QImage::Format_RGBA64);
        deep.fill(QColor(0, 0, 255, 255));
        QTest::newRow("16-bit opaque blue") << deep << darkWindow << QColor(0, 0, 255);

        QImage grey(200, 100, QImage::Format_Grayscale8);
        grey.fill(QColor(90, 90, 90));
        QTest::newRow("greyscale") << grey << darkWindow << QColor(90, 90, 90);
    }

    void colours()
    {
        QFETCH(QImage, source);
        QFETCH(QColor, background);
        QFETCH(QColor, expected);

        const auto result =
            ImagePreparation::preparedImage(TestImages::encoded(source, "PNG"), background, 144);
        QVERIFY(result);
        const QImage jpeg = decoded(result->jpegData);
        QVERIFY(!jpeg.hasAlphaChannel());
        QVERIFY2(TestImages::isClose(jpeg.pixelColor(100, 50), expected, 6),
                 qPrintable(jpeg.pixelColor(100, 50).name()));
        QVERIFY(TestImages::isClose(result->preview.pixelColor(72, 36), expected, 6));
    }

    // Noise is the worst case for JPEG: over the cap at 86, it is stepped down until it fits;
    // under a cap that nothing meets, there is no prepared image.
    void qualityLadder()
    {
        const QByteArray noise = TestImages::noiseImage(2560, 2560);

        const auto fitted = ImagePreparation::preparedImage(noise, darkWindow, 144);
        QVERIFY(fitted);
        QVERIFY(fitted->jpegData.size() <= 4'500'000);
        const int quality = TestImages::jpegQuality(fitted->jpegData);
        QVERIFY2(quality < 86 && quality >= 54, qPrintable(QString::number(quality)));
        // Each step above the one taken was over the cap: the ladder stops at the first fit.
        QCOMPARE(decoded(fitted->jpegData).size(), QSize(2560, 2560));

        ImagePreparationLimits strict;
        strict.maximumJPEGSize = 1'000'000;
        QVERIFY(!ImagePreparation::preparedImage(noise, darkWindow, 144, strict));
    }

    // The same image is prepared from a file as from its data.
    void fromFile()
    {
        QTemporaryDir directory;
        const QString path = directory.filePath(u"photo [1].jpg"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(TestImages::orientedJPEG(TestImages::quadrants(400, 300), 6));
        file.close();

        const auto result = ImagePreparation::preparedImageFromFile(path, darkWindow, 1200);
        QVERIFY(result);
        QCOMPARE(decoded(result->jpegData).size(), QSize(400, 300));
        QVERIFY(!ImagePreparation::preparedImageFromFile(directory.path(), darkWindow, 1200));
        QVERIFY(!ImagePreparation::preparedImageFromFile(directory.filePath(u"missing.jpg"_s),
                                                         darkWindow, 1200));
    }

    // Formats other than JPEG and PNG that the decoder reads here.
    void formats_data()
    {
        QTest::addColumn<QByteArray>("suffix");
        QTest::newRow("WebP") << ".webp"_ba;
        QTest::newRow("TIFF") << ".tif"_ba;
        QTest::newRow("HEIF") << ".heic"_ba;
        QTest::newRow("AVIF") << ".avif"_ba;
        QTest::newRow("GIF") << ".gif"_ba;
    }

    void formats()
    {
        QFETCH(QByteArray, suffix);
        const QImage source = TestImages::quadrants(640, 480);
        const auto data = TestImages::savedWithVips(source, suffix.constData());
        if (!data)
            QSKIP("libvips cannot write this format here");

        const auto result = ImagePreparation::preparedImage(*data, darkWindow, 144);
        QVERIFY(result);
        const QImage jpeg = decoded(result->jpegData);
        QCOMPARE(jpeg.size(), QSize(640, 480));
        QVERIFY2(TestImages::isClose(TestImages::colorAt(jpeg, 0.25, 0.25),
                                     TestImages::quadrantColors[0], 40),
                 qPrintable(TestImages::colorAt(jpeg, 0.25, 0.25).name()));
    }

    // What is not an image of a decoded format gives none, and so does a declared size past
    // the pixel ceiling, before anything is decoded.
    void noPreparedImage_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << "Not an image at all, just a few words."_ba;
        QTest::newRow("random bytes") << QByteArray(4096, '\x5a');
        QTest::newRow("truncated PNG header")
            << TestImages::encoded(QImage(8, 8, QImage::Format_RGB32), "PNG").left(20);
        QTest::newRow("SVG")
            << R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"/>)"_ba;
        QTest::newRow("PDF") << "%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n"_ba;
    }

    void noPreparedImage()
    {
        QFETCH(QByteArray, data);
        QVERIFY(!ImagePreparation::preparedImage(data, darkWindow, 144));
    }

    void decompressionBomb()
    {
        // 256 megapixels in about 20 kilobytes.
        const QByteArray bomb = TestImages::bombPNG(16000, 16000);
        QVERIFY(bomb.size() < 1'000'000);
        QVERIFY(!ImagePreparation::preparedImage(bomb, darkWindow, 144));

        // Under the ceiling the same kind of image is prepared.
        const QByteArray large = TestImages::bombPNG(4000, 3000);
        const auto result = ImagePreparation::preparedImage(large, darkWindow, 144);
        QVERIFY(result);
        QCOMPARE(decoded(result->jpegData).size(), QSize(2560, 1920));
    }

    // What decoding an image would hold decides, not its pixel count alone: a 14000 × 14000
    // PNG streams through the pipeline, but interlaced it is decoded whole, as a GIF's frame
    // always is, and a progressive JPEG keeps all its coefficients. Photos of the usual sizes
    // and layouts are prepared as before.
    void decodingBudget_data()
    {
        using TestImages::PngColour;
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<bool>("prepared");
        const qint64 sheet = ImagePreparationLimits().maximumDecodingBytes;

        QTest::newRow("interlaced 16-bit RGBA PNG, 14000 x 14000")
            << TestImages::bombPNG(14000, 14000, 16, PngColour::RGBA, true) << sheet << false;
        QTest::newRow("GIF, 14000 x 14000") << TestImages::flatGIF(14000, 14000) << sheet << false;
        QTest::newRow("transparent GIF, 14000 x 14000")
            << TestImages::flatGIF(14000, 14000, true) << sheet << false;

        QImage photo(6000, 4000, QImage::Format_RGB888);
        photo.fill(QColor(120, 140, 90));
        QTest::newRow("24 MP JPEG") << TestImages::encoded(photo, "JPEG", 92) << sheet << true;
        QTest::newRow("12 MP PNG with alpha")
            << TestImages::bombPNG(4000, 3000, 8, PngColour::RGBA) << sheet << true;
        QTest::newRow("12 MP interlaced PNG")
            << TestImages::bombPNG(4000, 3000, 8, PngColour::RGB, true) << sheet << true;
        QTest::newRow("12 MP GIF") << TestImages::flatGIF(4000, 3000) << sheet << true;

        // The same picture in two layouts each, under a budget between what the two hold.
        const QImage picture = TestImages::quadrants(2000, 2000);
        const qint64 between = 24 * 1024 * 1024;
        QTest::newRow("progressive JPEG")
            << TestImages::savedWithVips(picture, ".jpg[interlace,Q=92]").value_or(QByteArray())
            << between << false;
        QTest::newRow("baseline JPEG")
            << TestImages::savedWithVips(picture, ".jpg[Q=92]").value_or(QByteArray()) << between
            << true;
        QTest::newRow("TIFF in tiles of 1024 x 1024")
            << TestImages::savedWithVips(picture, ".tif[tile,tile-width=1024,tile-height=1024]")
                   .value_or(QByteArray())
            << between << false;
        QTest::newRow("TIFF in strips")
            << TestImages::savedWithVips(picture, ".tif").value_or(QByteArray()) << between << true;
    }

    void decodingBudget()
    {
        QFETCH(QByteArray, data);
        QFETCH(qint64, budget);
        QFETCH(bool, prepared);
        QVERIFY(!data.isEmpty());
        ImagePreparationLimits limits;
        limits.maximumDecodingBytes = budget;

        const auto result = ImagePreparation::preparedImage(data, darkWindow, 144, limits);
        QCOMPARE(bool(result), prepared);
        if (result)
            QVERIFY(decoded(result->jpegData).width() <= 2560);
    }

    // A preparation stops when its caller's flag is set: before it starts, or while the image is
    // decoded, in the pipeline (a PNG streams through it) or inside the decoder (an interlaced
    // PNG is decoded whole first). The same image with the flag left alone is prepared.
    void cancellation_data()
    {
        using TestImages::PngColour;
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("fromFile");
        QTest::newRow("PNG") << TestImages::bombPNG(8000, 8000, 16, PngColour::RGBA) << false;
        QTest::newRow("interlaced PNG, from a file")
            << TestImages::bombPNG(8000, 6000, 8, PngColour::RGB, true) << true;
    }

    void cancellation()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, fromFile);
        QTemporaryDir directory;
        const QString path = directory.filePath(u"large.png"_s);
        if (fromFile) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(data), data.size());
        }
        std::atomic<bool> cancelled = true;
        ImagePreparationLimits limits;
        limits.cancelled = &cancelled;
        const auto prepared = [&] {
            return fromFile ? ImagePreparation::preparedImageFromFile(path, darkWindow, 144, limits)
                            : ImagePreparation::preparedImage(data, darkWindow, 144, limits);
        };

        QVERIFY(!prepared());

        cancelled = false;
        auto preparing = std::async(std::launch::async, prepared);
        // Long enough for the decoding to be under way, far shorter than it takes.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cancelled = true;
        QVERIFY(!preparing.get());

        cancelled = false;
        QVERIFY(prepared());
    }

    void previewOfJPEG()
    {
        const QByteArray jpeg = TestImages::encoded(TestImages::quadrants(2560, 1920), "JPEG", 86);
        const auto preview = ImagePreparation::previewImage(jpeg, 1200);
        QVERIFY(preview);
        QCOMPARE(preview->size(), QSize(1200, 900));
        QVERIFY(!ImagePreparation::previewImage("nothing"_ba, 1200));
        QVERIFY(!ImagePreparation::previewImage(jpeg, 0));
    }
};

QTEST_GUILESS_MAIN(TestImagePreparation)
#include "tst_imagepreparation.moc"
