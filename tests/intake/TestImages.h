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

// A valid 1-bit greyscale PNG of width × height that compresses to a few hundred kilobytes.
QByteArray bombPNG(int width, int height);

// The image in a format libvips writes here; none when it cannot ("webp", "tif", "heic",
// "avif").
std::optional<QByteArray> savedWithVips(const QImage &image, const char *suffix);

// The JPEG quality (in percent) of the ladder whose luminance table data uses, read from its
// first quantisation table; -1 when it is none of them.
int jpegQuality(const QByteArray &jpeg);

} // namespace TestImages
