#pragma once

#include "ImagePreparation.h"

// ImagePreparation's work itself, with libvips. Lives in the media module, which the share sheet
// loads the first time it prepares an image: the sheet starts without libvips and its
// libraries.
namespace VipsImagePreparation {

std::optional<PreparedImage> preparedImage(const QByteArray &data, const QColor &background,
                                           int previewMaxPixelSize,
                                           const ImagePreparationLimits &limits);
std::optional<PreparedImage> preparedImageFromFile(const QString &path, const QColor &background,
                                                   int previewMaxPixelSize,
                                                   const ImagePreparationLimits &limits);
std::optional<QImage> previewImage(const QByteArray &data, int maxPixelSize);

} // namespace VipsImagePreparation
