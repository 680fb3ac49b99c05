#include "TestImages.h"

#include <QBuffer>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QtEndian>

#include <cstring>
#include <vips/vips8>
#include <zlib.h>

using vips::VImage;

namespace TestImages {

const QColor quadrantColors[4] = {QColor(220, 30, 30), QColor(30, 200, 40), QColor(30, 50, 220),
                                  QColor(240, 240, 240)};

QByteArray encoded(const QImage &image, const char *format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image))
        return {};
    return bytes;
}

QImage quadrants(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int index = (y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1);
            image.setPixelColor(x, y, quadrantColors[index]);
        }
    }
    return image;
}

QColor colorAt(const QImage &image, double fx, double fy)
{
    return image.pixelColor(int(fx * image.width()), int(fy * image.height()));
}

bool isClose(const QColor &a, const QColor &b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

namespace {

void ensureVips()
{
    static const bool started = vips_init("zelt-tests") == 0;
    Q_UNUSED(started);
}

VImage toVips(const QImage &source)
{
    ensureVips();
    const bool alpha = source.hasAlphaChannel();
    const QImage image =
        source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const int bands = alpha ? 4 : 3;
    QByteArray packed;
    packed.reserve(qsizetype(image.width()) * image.height() * bands);
    for (int y = 0; y < image.height(); ++y)
        packed.append(reinterpret_cast<const char *>(image.constScanLine(y)),
                      qsizetype(image.width()) * bands);
    // Copied: an image made over memory keeps pointing at it, and packed goes now.
    VipsImage *copy =
        vips_image_new_from_memory_copy(packed.constData(), size_t(packed.size()), image.width(),
                                        image.height(), bands, VIPS_FORMAT_UCHAR);
    if (!copy)
        throw vips::VError();
    return VImage(copy);
}

QImage transformed(const QImage &image, int orientation)
{
    QTransform quarter;
    quarter.rotate(90);
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5: // transpose: a quarter turn clockwise, then a horizontal mirror
        return image.transformed(quarter).mirrored(true, false);
    case 6: // shown after a quarter turn clockwise, so stored turned anticlockwise
        return image.transformed(QTransform().rotate(270));
    case 7: // transverse: a quarter turn anticlockwise, then a horizontal mirror
        return image.transformed(QTransform().rotate(270)).mirrored(true, false);
    case 8:
        return image.transformed(quarter);
    default:
        return image;
    }
}

} // namespace

QByteArray orientedJPEG(const QImage &upright, int orientation)
{
    VImage stored = toVips(transformed(upright, orientation));
    stored.set("orientation", orientation);
    void *buffer = nullptr;
    size_t size = 0;
    stored.write_to_buffer(".jpg", &buffer, &size, VImage::option()->set("Q", 95));
    QByteArray bytes(static_cast<const char *>(buffer), qsizetype(size));
    g_free(buffer);
    return bytes;
}

QByteArray noiseImage(int width, int height)
{
    ensureVips();
    QByteArray pixels(qsizetype(width) * height * 3, Qt::Uninitialized);
    auto *random = QRandomGenerator::global();
    for (qsizetype i = 0; i < pixels.size();) {
        const quint32 bits = random->generate();
        for (int bit = 0; bit < 32 && i < pixels.size(); ++bit, ++i)
            pixels[i] = ((bits >> bit) & 1) ? char(0xff) : char(0);
    }
    const VImage image = VImage::new_from_memory(pixels.data(), size_t(pixels.size()), width,
                                                 height, 3, VIPS_FORMAT_UCHAR);
    // Uncompressed TIFF: fast to write and to read, whatever the pixels.
    void *buffer = nullptr;
    size_t size = 0;
    image.write_to_buffer(".tif", &buffer, &size);
    QByteArray bytes(static_cast<const char *>(buffer), qsizetype(size));
    g_free(buffer);
    return bytes;
}

namespace {

void appendChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    const auto length = qToBigEndian(quint32(data.size()));
    png.append(reinterpret_cast<const char *>(&length), 4);
    QByteArray body(type, 4);
    body.append(data);
    png.append(body);
    const auto crc = qToBigEndian(
        quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))));
    png.append(reinterpret_cast<const char *>(&crc), 4);
}

} // namespace

QByteArray bombPNG(int width, int height)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header(13, '\0');
    qToBigEndian(quint32(width), header.data());
    qToBigEndian(quint32(height), header.data() + 4);
    header[8] = 1; // bit depth
    header[9] = 0; // greyscale
    appendChunk(png, "IHDR", header);

    // Row by row, so that the uncompressed image never exists in memory.
    const QByteArray row(1 + (width + 7) / 8, '\0');
    z_stream stream = {};
    deflateInit(&stream, Z_BEST_COMPRESSION);
    QByteArray compressed;
    QByteArray chunk(1 << 16, '\0');
    for (int y = 0; y < height; ++y) {
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(row.constData()));
        stream.avail_in = uInt(row.size());
        const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(chunk.data());
            stream.avail_out = uInt(chunk.size());
            deflate(&stream, flush);
            compressed.append(chunk.constData(), chunk.size() - qsizetype(stream.avail_out));
        } while (stream.avail_out == 0 || (flush == Z_FINISH && stream.avail_in > 0));
    }
    deflateEnd(&stream);
    appendChunk(png, "IDAT", compressed);
    appendChunk(png, "IEND", {});
    return png;
}

std::optional<QByteArray> savedWithVips(const QImage &image, const char *suffix)
{
    try {
        const VImage converted = toVips(image);
        void *buffer = nullptr;
        size_t size = 0;
        converted.write_to_buffer(suffix, &buffer, &size);
        QByteArray bytes(static_cast<const char *>(buffer), qsizetype(size));
        g_free(buffer);
        return bytes;
    } catch (const vips::VError &) {
        vips_error_clear();
        return std::nullopt;
    }
}

int jpegQuality(const QByteArray &jpeg)
{
    // The first DQT segment's first table, first entry (the DC step of the luminance table):
    // libjpeg scales the standard table's 16 by (200 - 2 × quality) / 100.
    const qsizetype marker = jpeg.indexOf("\xff\xdb");
    if (marker < 0 || marker + 5 >= jpeg.size())
        return -1;
    const int dcStep = quint8(jpeg.at(marker + 5));
    for (const int quality : {86, 78, 70, 62, 54}) {
        if ((16 * (200 - 2 * quality) + 50) / 100 == dcStep)
            return quality;
    }
    return -1;
}

} // namespace TestImages
