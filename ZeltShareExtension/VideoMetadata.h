#pragma once

#include "host/ContentType.h"
#include "service/ShareSubmission.h"

#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <optional>

// The display size and duration of a movie file, read with libavformat from the container's
// header: the first video stream that is not a cover picture, its size turned by the stream's
// display matrix (a portrait recording reports its portrait size), and the container's duration
// when it is known, finite and positive. Nothing is decoded.
class VideoMetadata
{
public:
    // None when the type (contentType, else the one of the file's extension) is not a movie,
    // the file cannot be read, or it has no video stream. Never fails; the probe runs on a
    // worker thread.
    static QCoro::Task<std::optional<FilesShareRequest::Video>>
    videoMetadata(QUrl fileURL, std::optional<ContentType> contentType);

    // The probe itself, on the calling thread; the type is not checked.
    static std::optional<FilesShareRequest::Video> probe(const QString &path);
};
