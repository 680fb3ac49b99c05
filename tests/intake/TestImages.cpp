#include "TestImages.h"

#include <QBuffer>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <span>
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

void appendBigEndian(QByteArray &bytes, quint32 value)
{
    const auto big = qToBigEndian(value);
    bytes.append(reinterpret_cast<const char *>(&big), 4);
}

// A zlib stream of `length` zero bytes. Compressing them all would take seconds for a large
// image; a piece that ends in a full flush refers to nothing before it, so one compressed
// piece is repeated instead.
QByteArray zlibZeros(qint64 length)
{
    constexpr qint64 piece = 1 << 23;
    const QByteArray zeros(piece, '\0');
    z_stream stream = {};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    const auto compressed = [&stream, &zeros](qint64 size, int flush) {
        QByteArray out(qsizetype(deflateBound(&stream, uLong(size))) + 64, Qt::Uninitialized);
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
        stream.avail_in = uInt(size);
        stream.next_out = reinterpret_cast<Bytef *>(out.data());
        stream.avail_out = uInt(out.size());
        deflate(&stream, flush);
        out.truncate(out.size() - qsizetype(stream.avail_out));
        return out;
    };
    const QByteArray block = compressed(piece, Z_FULL_FLUSH);
    QByteArray result("\x78\xda", 2);
    for (qint64 i = 0; i < length / piece; ++i)
        result.append(block);
    result.append(compressed(length % piece, Z_FINISH));
    deflateEnd(&stream);
    // Adler-32 of zeros: the running sum stays 1, so the sum of sums is the length.
    appendBigEndian(result, (quint32(length % 65521) << 16) | 1);
    return result;
}

} // namespace

QByteArray bombPNG(int width, int height, int bitDepth, PngColour colour, bool interlaced)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendBigEndian(header, quint32(width));
    appendBigEndian(header, quint32(height));
    header.append(char(bitDepth));
    header.append(char(colour));
    header.append('\0'); // deflate
    header.append('\0'); // adaptive filtering
    header.append(interlaced ? '\1' : '\0');
    appendChunk(png, "IHDR", header);

    // Every row is a filter byte and samples, all zero, so only their number matters.
    const int channels = colour == PngColour::RGBA        ? 4
                         : colour == PngColour::RGB       ? 3
                         : colour == PngColour::GreyAlpha ? 2
                                                          : 1;
    struct Pass
    {
        int x, y, dx, dy;
    };
    constexpr Pass adam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                              {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    constexpr Pass whole[] = {{0, 0, 1, 1}};
    qint64 length = 0;
    for (const Pass &pass :
         interlaced ? std::span<const Pass>(adam7) : std::span<const Pass>(whole)) {
        const qint64 columns = width > pass.x ? (width - pass.x + pass.dx - 1) / pass.dx : 0;
        const qint64 rows = height > pass.y ? (height - pass.y + pass.dy - 1) / pass.dy : 0;
        if (columns > 0 && rows > 0)
            length += rows * (1 + (columns * channels * bitDepth + 7) / 8);
    }
    appendChunk(png, "IDAT", zlibZeros(length));
    appendChunk(png, "IEND", {});
    return png;
}

QByteArray flatGIF(int width, int height, bool transparent)
{
    // LZW of one colour, index 0, with 2-bit codes to start: after a clear code each code
    // stands for a run one pixel longer than the one before, until the table is full.
    constexpr int minimumCodeSize = 2;
    constexpr int clear = 1 << minimumCodeSize;
    constexpr int end = clear + 1;
    QByteArray codes;
    quint32 bits = 0;
    int bitCount = 0;
    const auto put = [&](int code, int size) {
        bits |= quint32(code) << bitCount;
        for (bitCount += size; bitCount >= 8; bitCount -= 8, bits >>= 8)
            codes.append(char(bits & 0xff));
    };
    qint64 left = qint64(width) * height;
    int size = minimumCodeSize + 1;
    while (left > 0) {
        size = minimumCodeSize + 1;
        put(clear, size);
        // The decoder adds an entry for every code after the first.
        for (int next = end + 1, run = 1; left > 0 && next < 4096; ++run) {
            const qint64 taken = std::min<qint64>(run, left);
            put(taken == 1 ? 0 : end + int(taken) - 1, size);
            left -= taken;
            if (run > 1 && ++next == (1 << size) && size < 12)
                ++size;
        }
    }
    put(end, size);
    if (bitCount > 0)
        codes.append(char(bits & 0xff));

    QByteArray gif("GIF89a", 6);
    const auto appendLittleEndian16 = [&gif](int value) {
        gif.append(char(value & 0xff));
        gif.append(char(value >> 8));
    };
    appendLittleEndian16(width);
    appendLittleEndian16(height);
    gif.append("\x81\0\0", 3); // a global table of four colours
    gif.append("\0\0\0\xff\xff\xff\x50\x50\x50\xc8\0\0", 12);
    if (transparent)
        gif.append("\x21\xf9\x04\x01\0\0\0\0", 8); // colour 0 is transparent
    gif.append('\x2c');
    appendLittleEndian16(0);
    appendLittleEndian16(0);
    appendLittleEndian16(width);
    appendLittleEndian16(height);
    gif.append('\0');
    gif.append(char(minimumCodeSize));
    for (qsizetype i = 0; i < codes.size(); i += 255) {
        const QByteArray block = codes.mid(i, 255);
        gif.append(char(block.size()));
        gif.append(block);
    }
    gif.append("\0\x3b", 2);
    return gif;
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
