#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

#include <array>
#include <atomic>
#include <optional>

// A shared image re-encoded for sending: the JPEG and the thumbnail the sheet shows for it.
struct PreparedImage
{
    QByteArray jpegData;
    QImage preview; // upright, RGB, at most the asked preview size on its longer side
};

// The bounds of a preparation. The defaults are what the sheet uses; tests lower them.
struct ImagePreparationLimits
{
    // Longer side of the prepared image, in pixels; smaller images keep their size.
    int maximumPixelSize = 2560;
    // The JPEG must fit in this many bytes at one of the qualities.
    qint64 maximumJPEGSize = 4'500'000;
    // Width × height of the first image past which it is not decoded at all. A decompression
    // bomb (a few kilobytes that claim gigapixels) stops here instead of filling the memory;
    // 200 megapixels is above any camera's photo.
    qint64 maximumSourcePixels = 200'000'000;
    // Bytes that decoding the first image may hold at once, estimated from its header (how the
    // format's decoder works, the bands, their depth, interlacing, tile layout); past it the
    // image is not decoded at all. Three quarters of the 512 MiB the whole process may reach:
    // the rest is what it holds before decoding (about 70 MiB) and room for the estimate's error.
    qint64 maximumDecodingBytes = 384 * 1024 * 1024;
    // A flag of the caller's that stops the preparation when it is or becomes true (set from any
    // thread): it then gives no prepared image within a fraction of a second. The flag must
    // outlive the call.
    const std::atomic<bool> *cancelled = nullptr;
};

// Turns encoded image data into a prepared image with libvips: decoded at a reduced size where
// the format allows (shrink-on-load), never enlarged, turned upright by its orientation tag,
// converted to sRGB with 8 bits per channel, flattened onto an opaque background, and written
// as a JPEG without metadata at the first quality of jpegQualities that fits. The preview is
// decoded from that JPEG. Touches no shared state: any thread, several at once.
//
// Only JPEG, PNG, WebP, TIFF, GIF and HEIF/AVIF are decoded; anything else gives no prepared
// image and is sent as the file it is.
class ImagePreparation
{
public:
    // JPEG qualities, in percent, tried in this order: from 86 down by 8 while at least 50.
    static constexpr std::array<int, 5> jpegQualities{86, 78, 70, 62, 54};

    // None when the data is no image of a decoded format, is larger than the limits allow,
    // cannot be encoded within the size cap at any quality, or the preparation was cancelled.
    static std::optional<PreparedImage> preparedImage(const QByteArray &data,
                                                      const QColor &background,
                                                      int previewMaxPixelSize,
                                                      const ImagePreparationLimits &limits = {});
    // The same for the image file at path, read as it is decoded.
    static std::optional<PreparedImage>
    preparedImageFromFile(const QString &path, const QColor &background, int previewMaxPixelSize,
                          const ImagePreparationLimits &limits = {});

    // A thumbnail of the first image of data, at most maxPixelSize on its longer side, without
    // applying the orientation tag (a prepared JPEG has none).
    static std::optional<QImage> previewImage(const QByteArray &data, int maxPixelSize);
};
