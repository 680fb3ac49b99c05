#pragma once

#include "ImagePreparation.h"
#include "service/ShareSubmission.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

#include <optional>

// What the media module offers: the image preparation with libvips and the movie probe with
// libavformat, behind one table that the module hands out by a C name. Both sides are built
// from the same sources in the same build.
struct MediaFunctions
{
    std::optional<PreparedImage> (*preparedImage)(const QByteArray &, const QColor &, int,
                                                  const ImagePreparationLimits &);
    std::optional<PreparedImage> (*preparedImageFromFile)(const QString &, const QColor &, int,
                                                          const ImagePreparationLimits &);
    std::optional<QImage> (*previewImage)(const QByteArray &, int);
    std::optional<FilesShareRequest::Video> (*probeVideo)(const QString &);
};

#define ZELT_MEDIA_FUNCTIONS_SYMBOL "zeltShareMediaFunctions"
