#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

#include <optional>

// Images made for the intake's tests, encoded the way a camera or another program would.
namespace TestImages {

QByteArray encoded(const QImage &image, const char *format, int quality = -1);

// An image whose four quadrants have the colours of quadrantColors, top-left, top-right,
// bottom-left, bottom-right: enough to tell a rotation or a mirror from the upright image.
QImage quadrants(int width, int height);
extern const QColor quadrantColors[4];
// The colour of the quadrant around the point at fractions (fx, fy) of the image.
QColor colorAt(const QImage &image, double fx, double fy);
bool isClose(const QColor &a, const QColor &b, int tolerance = 24);

// A JPEG whose pixels are stored so that the EXIF orientation (1 to 8) turns them into upright.
QByteArray orientedJPEG(const QImage &upright, int orientation);

// Random black-or-white pixels in each channel: as hard as it gets for JPEG.
QByteArray noiseImage(int width, int height);

// PNG colour types, by their numbers in the header.
enum class PngColour { Grey = 0, RGB = 2, GreyAlpha = 4, RGBA = 6 };

// A valid PNG of width × height whose samples are all zero (black, transparent where there is
// alpha): a few hundred kilobytes claim any size, as a decompression bomb does. The whole
// image never exists in memory, so 14000 × 14000 at 16-bit RGBA (1.5 MB) is made in moments.
QByteArray bombPNG(int width, int height, int bitDepth = 1, PngColour colour = PngColour::Grey,
                   bool interlaced = false);

// A valid one-frame GIF of width × height in one colour, transparent or not: 14000 × 14000
// takes about 130 kilobytes.
QByteArray flatGIF(int width, int height, bool transparent = false);

// The image in a format libvips writes here; none when it cannot (".webp", ".tif", ".heic",
// ".avif"; options of the saver in brackets, ".jpg[interlace]").
std::optional<QByteArray> savedWithVips(const QImage &image, const char *suffix);

// The JPEG quality (in percent) of the ladder whose luminance table data uses, read from its
// first quantisation table; -1 when it is none of them.
int jpegQuality(const QByteArray &jpeg);

} // namespace TestImages
