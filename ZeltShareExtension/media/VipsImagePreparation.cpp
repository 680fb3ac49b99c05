#include "VipsImagePreparation.h"

#include "FileCopy.h"
#include "Logging.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <malloc.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips8>

using vips::VImage;
using vips::VSource;

namespace {

// The decoders of the formats people share photos in. Everything else libvips can read stays
// blocked: those loaders are not meant for untrusted input (PDF, SVG, ImageMagick, raw
// formats), and a file of another format is sent as it is.
constexpr const char *allowedLoaders[] = {
    "VipsForeignLoadJpeg", "VipsForeignLoadPng",   "VipsForeignLoadWebp",
    "VipsForeignLoadTiff", "VipsForeignLoadNsgif", "VipsForeignLoadHeif",
};

void initialiseVips()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (vips_init("zelt-share") != 0) {
            qCWarning(lcShareExtension, "libvips could not start: %s", vips_error_buffer());
            vips_error_clear();
            return;
        }
        // Every image is decoded once; caching operations would only hold memory.
        vips_cache_set_max(0);
        vips_operation_block_set("VipsForeignLoad", TRUE);
        for (const char *loader : allowedLoaders)
            vips_operation_block_set(loader, FALSE);
    });
}

// Where the encoded image comes from. Each preparation step opens a fresh source, because a
// source read sequentially cannot be read again.
using SourceFactory = std::function<VSource()>;

VImage toOpaqueSRGB(VImage image, const QColor &background)
{
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.format() != VIPS_FORMAT_UCHAR)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.has_alpha()) {
        const QColor rgb = background.toRgb();
        image = image.flatten(VImage::option()->set(
            "background",
            std::vector<double>{double(rgb.red()), double(rgb.green()), double(rgb.blue())}));
    }
    if (image.format() != VIPS_FORMAT_UCHAR)
        image = image.cast(VIPS_FORMAT_UCHAR);
    if (image.bands() > 3)
        image = image.extract_band(0, VImage::option()->set("n", 3));
    else if (image.bands() < 3)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    return image;
}

// Decoded at the reduced size (libvips shrinks JPEG, WebP, HEIF and pyramidal TIFF while
// loading), upright, never enlarged. An image with an embedded colour profile is converted to
// sRGB through it; one without is taken as sRGB already (asking for a conversion anyway would
// run it through a generic profile and shift its colours).
VImage normalizedImage(const SourceFactory &source, bool hasProfile, const QColor &background,
                       const ImagePreparationLimits &limits)
{
    auto *options =
        VImage::option()->set("height", limits.maximumPixelSize)->set("size", VIPS_SIZE_DOWN);
    if (hasProfile)
        options->set("export_profile", "srgb");
    const VImage thumbnail = VImage::thumbnail_source(source(), limits.maximumPixelSize, options);
    return toOpaqueSRGB(thumbnail, background);
}

std::optional<QByteArray> encodedJPEG(const VImage &image, int quality, qint64 maximumSize)
{
    void *buffer = nullptr;
    size_t size = 0;
    image.write_to_buffer(".jpg", &buffer, &size,
                          VImage::option()->set("Q", quality)->set("strip", true));
    std::optional<QByteArray> result;
    if (qint64(size) <= maximumSize)
        result = QByteArray(static_cast<const char *>(buffer), qsizetype(size));
    g_free(buffer);
    return result;
}

// The first quality that fits. The first attempt streams from the source like any single
// conversion; only an image that does not fit is decoded again and held in memory for the
// lower qualities.
std::optional<QByteArray> jpegData(const SourceFactory &source, bool hasProfile,
                                   const QColor &background, const ImagePreparationLimits &limits)
{
    const auto &qualities = ImagePreparation::jpegQualities;
    if (auto jpeg = encodedJPEG(normalizedImage(source, hasProfile, background, limits),
                                qualities.front(), limits.maximumJPEGSize))
        return jpeg;
    const VImage decoded = normalizedImage(source, hasProfile, background, limits).copy_memory();
    for (auto quality = qualities.begin() + 1; quality != qualities.end(); ++quality) {
        if (auto jpeg = encodedJPEG(decoded, *quality, limits.maximumJPEGSize))
            return jpeg;
    }
    return std::nullopt;
}

QImage toQImage(const VImage &image)
{
    size_t size = 0;
    void *pixels = image.write_to_memory(&size);
    const int width = image.width();
    const int height = image.height();
    QImage result(width, height, QImage::Format_RGB888);
    const auto *bytes = static_cast<const uchar *>(pixels);
    const qsizetype rowLength = qsizetype(width) * 3;
    if (!result.isNull() && size == size_t(rowLength) * size_t(height)) {
        for (int y = 0; y < height; ++y)
            std::memcpy(result.scanLine(y), bytes + rowLength * y, size_t(rowLength));
    } else {
        result = QImage();
    }
    g_free(pixels);
    return result;
}

// A JPEG (the prepared image) is decoded at the largest power-of-two reduction that still
// covers the preview size and resized from there; anything else goes through the general
// thumbnail path. No orientation tag is applied.
std::optional<QImage> preview(const SourceFactory &source, int maxPixelSize)
{
    const VImage header = VImage::new_from_source(
        source(), "", VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
    VImage image;
    if (std::strcmp(header.get_string(VIPS_META_LOADER), "jpegload_source") == 0) {
        const int longer = std::max(header.width(), header.height());
        const int shorter = std::min(header.width(), header.height());
        // libvips aborts the process (rather than failing) when a shrink leaves a side of no
        // pixels, as a narrow strip would: the shorter side must keep at least one.
        int shrink = 1;
        while (shrink < 8 && longer / (shrink * 2) >= maxPixelSize && shorter >= shrink * 2)
            shrink *= 2;
        image = VImage::jpegload_source(
            source(),
            VImage::option()->set("shrink", shrink)->set("access", VIPS_ACCESS_SEQUENTIAL));
        const double scale = double(maxPixelSize) / std::max(image.width(), image.height());
        if (scale < 1)
            image = image.resize(scale);
    } else {
        image = VImage::thumbnail_source(source(), maxPixelSize,
                                         VImage::option()
                                             ->set("height", maxPixelSize)
                                             ->set("size", VIPS_SIZE_DOWN)
                                             ->set("no_rotate", true));
    }
    QImage result = toQImage(toOpaqueSRGB(image, Qt::black));
    if (result.isNull())
        return std::nullopt;
    return result;
}

std::optional<PreparedImage> prepare(const SourceFactory &source, const QColor &background,
                                     int previewMaxPixelSize, const ImagePreparationLimits &limits)
{
    initialiseVips();
    try {
        // Only the header is read here.
        const VImage header = VImage::new_from_source(
            source(), "", VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        if (qint64(header.width()) * qint64(header.height()) > limits.maximumSourcePixels) {
            qCInfo(lcShareExtension, "An image of %d × %d pixels is too large to prepare",
                   header.width(), header.height());
            return std::nullopt;
        }
        const bool hasProfile = header.get_typeof(VIPS_META_ICC_NAME) != 0;
        auto jpeg = jpegData(source, hasProfile, background, limits);
        // Decoding a large image leaves tens of megabytes free in the allocator's per-thread
        // pools; they go back to the system now instead of adding to the preview's.
        malloc_trim(0);
        if (!jpeg)
            return std::nullopt;
        auto thumbnail = VipsImagePreparation::previewImage(*jpeg, previewMaxPixelSize);
        if (!thumbnail)
            return std::nullopt;
        return PreparedImage{std::move(*jpeg), std::move(*thumbnail)};
    } catch (const vips::VError &error) {
        qCDebug(lcShareExtension, "No prepared image: %s", error.what());
        vips_error_clear();
        return std::nullopt;
    }
}

} // namespace

std::optional<PreparedImage>
VipsImagePreparation::preparedImage(const QByteArray &data, const QColor &background,
                                    int previewMaxPixelSize, const ImagePreparationLimits &limits)
{
    if (data.isEmpty())
        return std::nullopt;
    return prepare(
        [&data] { return VSource::new_from_memory(data.constData(), size_t(data.size())); },
        background, previewMaxPixelSize, limits);
}

std::optional<PreparedImage>
VipsImagePreparation::preparedImageFromFile(const QString &path, const QColor &background,
                                            int previewMaxPixelSize,
                                            const ImagePreparationLimits &limits)
{
    if (!FileCopy::isRegularFile(path))
        return std::nullopt;
    // Each source opens the file afresh. The name is taken as it is: unlike a file name given
    // to the loaders, a source's name holds no options in brackets.
    const QByteArray encoded = QFile::encodeName(path);
    return prepare([&encoded] { return VSource::new_from_file(encoded.constData()); }, background,
                   previewMaxPixelSize, limits);
}

std::optional<QImage> VipsImagePreparation::previewImage(const QByteArray &data, int maxPixelSize)
{
    if (data.isEmpty() || maxPixelSize < 1)
        return std::nullopt;
    initialiseVips();
    try {
        return preview(
            [&data] { return VSource::new_from_memory(data.constData(), size_t(data.size())); },
            maxPixelSize);
    } catch (const vips::VError &error) {
        qCDebug(lcShareExtension, "No preview: %s", error.what());
        vips_error_clear();
        return std::nullopt;
    }
}
