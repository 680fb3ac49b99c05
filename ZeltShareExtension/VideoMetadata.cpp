#include "VideoMetadata.h"

#include "MediaLibrary.h"
#include "host/WorkerThread.h"

#include <QFileInfo>

std::optional<FilesShareRequest::Video> VideoMetadata::probe(const QString &path)
{
    const auto *media = MediaLibrary::functions();
    return media ? media->probeVideo(path) : std::nullopt;
}

QCoro::Task<std::optional<FilesShareRequest::Video>>
VideoMetadata::videoMetadata(QUrl fileURL, std::optional<ContentType> contentType)
{
    if (!fileURL.isLocalFile())
        co_return std::nullopt;
    const QString path = fileURL.toLocalFile();
    std::optional<ContentType> type = contentType;
    if (!type)
        type = ContentType::fromFilenameExtension(QFileInfo(path).suffix(), ContentType::data());
    if (!type || !type->conforms(ContentType::movie()))
        co_return std::nullopt;
    auto probing = WorkerThread::run([path] { return probe(path); });
    co_return co_await std::move(probing);
}
