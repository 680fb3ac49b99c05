#pragma once

#include "host/ContentType.h"

#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

// One file that will be sent, backed by a private copy in the sheet's temporary directory.
struct SharedFile
{
    QUuid id;
    QUrl fileURL;     // the private copy (a local file)
    QString filename; // the copy's name, sent to the service
    QString mediaType;
    std::optional<ContentType> contentType; // the file's type, when one is known
    qint64 sizeBytes = 0;
    // A JPEG made by the image preparation, small enough to go inline.
    bool isPreparedImage = false;

    bool operator==(const SharedFile &) const = default;
};
