#include "ImagePreparation.h"

#include "MediaLibrary.h"

std::optional<PreparedImage> ImagePreparation::preparedImage(const QByteArray &data,
                                                             const QColor &background,
                                                             int previewMaxPixelSize,
                                                             const ImagePreparationLimits &limits)
{
    const auto *media = MediaLibrary::functions();
    return media ? media->preparedImage(data, background, previewMaxPixelSize, limits)
                 : std::nullopt;
}

std::optional<PreparedImage>
ImagePreparation::preparedImageFromFile(const QString &path, const QColor &background,
                                        int previewMaxPixelSize,
                                        const ImagePreparationLimits &limits)
{
    const auto *media = MediaLibrary::functions();
    return media ? media->preparedImageFromFile(path, background, previewMaxPixelSize, limits)
                 : std::nullopt;
}

std::optional<QImage> ImagePreparation::previewImage(const QByteArray &data, int maxPixelSize)
{
    const auto *media = MediaLibrary::functions();
    return media ? media->previewImage(data, maxPixelSize) : std::nullopt;
}
