#include "VipsImagePreparation.h"

#include "FileCopy.h"
#include "Logging.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <malloc.h>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <tiffio.h>
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

// The threads libvips runs a pipeline on. The line caches of a pipeline that cannot shrink while
// it loads grow with their number (with 16, a 7000 × 7000 PNG with alpha holds more than three
// times what it holds with 4), while the loader, which takes most of the time, reads on one
// thread whatever their number: more would add memory, not speed.
constexpr int maximumWorkers = 4;

// libvips' own warnings (a truncated file, a preparation stopped half-way) are the sheet's log
// like any other, not lines of their own on the terminal.
extern "C" void forwardVipsMessage(const gchar *, GLogLevelFlags, const gchar *message, gpointer)
{
    qCInfo(lcShareExtension, "libvips: %s", message);
}

void initialiseVips()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_log_set_handler("VIPS",
                          GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE |
                                         G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
                          forwardVipsMessage, nullptr);
        if (vips_init("zelt-share") != 0) {
            qCWarning(lcShareExtension, "libvips could not start: %s", vips_error_buffer());
            vips_error_clear();
            return;
        }
        // Every image is decoded once; caching operations would only hold memory.
        vips_cache_set_max(0);
        vips_concurrency_set(std::min(vips_concurrency_get(), maximumWorkers));
        vips_operation_block_set("VipsForeignLoad", TRUE);
        for (const char *loader : allowedLoaders)
            vips_operation_block_set(loader, FALSE);
    });
}

// Where the encoded image comes from. Each preparation step opens a fresh source, because a
// source read sequentially cannot be read again.
using SourceFactory = std::function<VSource()>;

// --- Cancellation ------------------------------------------------------------------------------

bool isCancelled(const ImagePreparationLimits &limits)
{
    return limits.cancelled && limits.cancelled->load(std::memory_order_relaxed);
}

// A source whose reads fail once the flag is set. A decoder that takes in the whole image in one
// call (the passes of an interlaced PNG, the scans of a progressive JPEG, a long TIFF strip)
// then gives up at its next read instead of decoding to the end first.
struct GuardedSource
{
    VipsSource *source;
    const std::atomic<bool> *cancelled;
};

gint64 guardedRead(VipsSourceCustom *, void *buffer, gint64 length, gpointer data)
{
    const auto *guarded = static_cast<const GuardedSource *>(data);
    if (guarded->cancelled->load(std::memory_order_relaxed))
        return -1;
    return vips_source_read(guarded->source, buffer, size_t(length));
}

gint64 guardedSeek(VipsSourceCustom *, gint64 offset, int whence, gpointer data)
{
    return vips_source_seek(static_cast<const GuardedSource *>(data)->source, offset, whence);
}

void releaseGuardedSource(gpointer data, GClosure *)
{
    auto *guarded = static_cast<GuardedSource *>(data);
    g_object_unref(guarded->source);
    delete guarded;
}

VSource cancellableSource(const VSource &source, const std::atomic<bool> *cancelled)
{
    VipsSourceCustom *custom = vips_source_custom_new();
    auto *guarded = new GuardedSource{source.get_source(), cancelled};
    g_object_ref(guarded->source);
    // Released with the custom source, when its handlers go.
    g_signal_connect_data(custom, "read", G_CALLBACK(guardedRead), guarded, releaseGuardedSource,
                          GConnectFlags(0));
    g_signal_connect(custom, "seek", G_CALLBACK(guardedSeek), guarded);
    return VSource(VIPS_SOURCE(custom));
}

void killWhenCancelled(VipsImage *, VipsProgress *progress, gpointer flag)
{
    if (static_cast<const std::atomic<bool> *>(flag)->load(std::memory_order_relaxed))
        vips_image_set_kill(progress->im, TRUE);
}

// Every computation of an image built on image (a JPEG encoding, a copy to memory) reports its
// progress to image after each tile; once the flag is set, that computation is killed and fails
// before its next tile.
void stopWhenCancelled(const VImage &image, const ImagePreparationLimits &limits)
{
    if (!limits.cancelled)
        return;
    vips_image_set_progress(image.get_image(), TRUE);
    g_signal_connect(image.get_image(), "eval", G_CALLBACK(killWhenCancelled),
                     const_cast<std::atomic<bool> *>(limits.cancelled));
}

// --- What decoding holds -----------------------------------------------------------------------

// Rows of the loaded image that a pipeline holds at once in its line caches and its workers'
// buffers, with maximumWorkers: measured between 1150 and 2100, depending on the format. An
// image with fewer rows holds about all of them.
constexpr qint64 pipelineRows = 2000;

// The layout of a TIFF's first image, which decides how much of it the loader reads at once.
struct TiffLayout
{
    qint64 tileWidth = 0; // 0 for an image in strips
    qint64 tileHeight = 0;
    qint64 rowsPerStrip = 0;
    bool separatePlanes = false;
    bool ycbcr = false;
};

tmsize_t tiffRead(thandle_t handle, void *buffer, tmsize_t size)
{
    auto *source = static_cast<VipsSource *>(handle);
    tmsize_t done = 0;
    while (done < size) {
        const gint64 read =
            vips_source_read(source, static_cast<char *>(buffer) + done, size_t(size - done));
        if (read < 0)
            return -1;
        if (read == 0)
            break;
        done += tmsize_t(read);
    }
    return done;
}

tmsize_t tiffWrite(thandle_t, void *, tmsize_t)
{
    return -1;
}

toff_t tiffSeek(thandle_t handle, toff_t offset, int whence)
{
    return toff_t(vips_source_seek(static_cast<VipsSource *>(handle), gint64(offset), whence));
}

int tiffClose(thandle_t)
{
    return 0;
}

toff_t tiffSize(thandle_t handle)
{
    return toff_t(vips_source_length(static_cast<VipsSource *>(handle)));
}

int tiffMap(thandle_t, void **, toff_t *)
{
    return 0;
}

void tiffUnmap(thandle_t, void *, toff_t) {}

// Read with libtiff, which libvips reads TIFF with: libvips keeps none of it in the header.
std::optional<TiffLayout> tiffLayout(const VSource &source)
{
    TIFF *tiff = TIFFClientOpen("image", "rm", source.get_source(), tiffRead, tiffWrite, tiffSeek,
                                tiffClose, tiffSize, tiffMap, tiffUnmap);
    if (!tiff)
        return std::nullopt;
    TiffLayout layout;
    uint16_t planarConfig = PLANARCONFIG_CONTIG;
    uint16_t photometric = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planarConfig);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    layout.separatePlanes = planarConfig == PLANARCONFIG_SEPARATE;
    layout.ycbcr = photometric == PHOTOMETRIC_YCBCR;
    if (TIFFIsTiled(tiff)) {
        uint32_t width = 0;
        uint32_t height = 0;
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &height);
        layout.tileWidth = width;
        layout.tileHeight = height;
    } else {
        uint32_t rows = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
        layout.rowsPerStrip = rows;
    }
    TIFFClose(tiff);
    return layout;
}

int intField(const VImage &header, const char *name)
{
    return header.get_typeof(name) == G_TYPE_INT ? header.get_int(name) : 0;
}

std::string_view stringField(const VImage &header, const char *name)
{
    // Plain or reference-counted: get_string reads either.
    return header.get_typeof(name) != 0 ? header.get_string(name) : "";
}

// The JPEG loader decodes at 1/2, 1/4 or 1/8 of the size where the shrink allows it, leaving at
// least a factor of two to the resize, as the thumbnail asks it to.
int jpegShrinkOnLoad(double shrink)
{
    return shrink >= 16 ? 8 : shrink >= 8 ? 4 : shrink >= 4 ? 2 : 1;
}

// An upper bound of the bytes that decoding the first image and bringing it down to the prepared
// size hold at once, from its header: what its decoder holds of the whole image, and the rows
// the pipeline holds at the width it loads at. Measured for each decoder with libvips 8.14.
qint64 decodingBytes(const VImage &header, const SourceFactory &source,
                     const ImagePreparationLimits &limits)
{
    const qint64 width = header.width();
    const qint64 height = header.height();
    const qint64 bands = header.bands();
    const qint64 pixelBytes = bands * qint64(vips_format_sizeof(header.format()));
    const qint64 pixels = width * height;
    const double shrink =
        std::max(1.0, double(std::max(width, height)) / std::max(1, limits.maximumPixelSize));
    const std::string_view loader = stringField(header, VIPS_META_LOADER);

    qint64 whole = 0;
    double loadShrink = 1;
    if (loader == "jpegload_source") {
        loadShrink = jpegShrinkOnLoad(shrink);
        // A progressive JPEG (any JPEG of several scans) keeps every DCT coefficient until its
        // last scan: two bytes a sample, the chroma at half the samples or fewer when
        // subsampled, whatever the shrink.
        if (intField(header, "jpeg-multiscan") != 0) {
            const bool subsampled =
                bands > 1 && stringField(header, "jpeg-chroma-subsample") != "4:4:4";
            whole = pixels * (subsampled ? bands + 1 : 2 * bands);
        }
    } else if (loader == "pngload_source") {
        // The seven passes of an interlaced PNG are decoded into one image in memory.
        if (intField(header, "interlaced") != 0)
            whole = pixels * pixelBytes;
    } else if (loader == "gifload_source") {
        // The frame as 8-bit RGBA, and a copy of the canvas before it when the frame is to be
        // restored afterwards.
        whole = pixels * 4 * 2;
    } else if (loader == "heifload_source") {
        // The decoder's planes at full resolution (no subsampling at worst), then the same
        // samples interleaved.
        whole = pixels * pixelBytes * 2;
    } else if (loader == "webpload_source") {
        // Decoded straight at the reduced size, but the alpha of a lossy image and the pixels
        // of a lossless one are unpacked at full size first: a byte a pixel at most.
        loadShrink = shrink;
        whole = pixels;
    } else if (loader == "tiffload_source") {
        const auto layout = tiffLayout(source());
        vips_error_clear();
        if (!layout) {
            whole = pixels * pixelBytes;
        } else if (layout->tileWidth > 0) {
            // Two rows of tiles across the image in the loader's cache, and a tile in the
            // hands of each worker.
            const qint64 across = (width + layout->tileWidth - 1) / layout->tileWidth;
            whole =
                (2 * across + maximumWorkers) * layout->tileWidth * layout->tileHeight * pixelBytes;
        } else if (layout->rowsPerStrip <= 128 || layout->separatePlanes || layout->ycbcr) {
            // Read a strip at a time (a long strip of one plane, or of subsampled YCbCr, too):
            // two strips in the loader's cache and one being unpacked.
            const qint64 rows = std::clamp<qint64>(layout->rowsPerStrip, 1, height);
            whole = 3 * rows * width * pixelBytes;
        }
        // Other long strips are read a row at a time.
    } else {
        whole = pixels * pixelBytes;
    }

    // An image with alpha is premultiplied, as floats, before it is resized.
    const qint64 workingPixelBytes =
        header.has_alpha() ? bands * qint64(sizeof(float)) : pixelBytes;
    const auto loadedWidth = qint64(std::ceil(double(width) / loadShrink));
    const auto loadedHeight = qint64(std::ceil(double(height) / loadShrink));
    return whole + loadedWidth * workingPixelBytes * std::min(pipelineRows, loadedHeight);
}

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
    stopWhenCancelled(thumbnail, limits);
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
    if (isCancelled(limits))
        return std::nullopt;
    const VImage decoded = normalizedImage(source, hasProfile, background, limits).copy_memory();
    stopWhenCancelled(decoded, limits);
    for (auto quality = qualities.begin() + 1; quality != qualities.end(); ++quality) {
        if (isCancelled(limits))
            return std::nullopt;
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

std::optional<PreparedImage> prepare(const SourceFactory &openSource, const QColor &background,
                                     int previewMaxPixelSize, const ImagePreparationLimits &limits)
{
    if (isCancelled(limits))
        return std::nullopt;
    initialiseVips();
    SourceFactory source = openSource;
    if (limits.cancelled)
        source = [&openSource, &limits] {
            return cancellableSource(openSource(), limits.cancelled);
        };
    try {
        // Only the header is read here.
        const VImage header = VImage::new_from_source(
            source(), "", VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        if (qint64(header.width()) * qint64(header.height()) > limits.maximumSourcePixels) {
            qCInfo(lcShareExtension, "An image of %d × %d pixels is too large to prepare",
                   header.width(), header.height());
            return std::nullopt;
        }
        if (const qint64 bytes = decodingBytes(header, source, limits);
            bytes > limits.maximumDecodingBytes) {
            qCInfo(lcShareExtension,
                   "An image of %d × %d pixels would take about %lld MiB to decode, too much to "
                   "prepare",
                   header.width(), header.height(), bytes >> 20);
            return std::nullopt;
        }
        const bool hasProfile = header.get_typeof(VIPS_META_ICC_NAME) != 0;
        auto jpeg = jpegData(source, hasProfile, background, limits);
        // Decoding a large image leaves tens of megabytes free in the allocator's per-thread
        // pools; they go back to the system now instead of adding to the preview's.
        malloc_trim(0);
        // Checked again: a decoder may take failed reads for a truncated file and carry on with
        // the part it has.
        if (!jpeg || isCancelled(limits))
            return std::nullopt;
        auto thumbnail = VipsImagePreparation::previewImage(*jpeg, previewMaxPixelSize);
        if (!thumbnail || isCancelled(limits))
            return std::nullopt;
        return PreparedImage{std::move(*jpeg), std::move(*thumbnail)};
    } catch (const vips::VError &error) {
        if (isCancelled(limits))
            qCDebug(lcShareExtension, "Image preparation cancelled");
        else
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
