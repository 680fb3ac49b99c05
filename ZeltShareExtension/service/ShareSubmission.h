#pragma once

#include "SharedFile.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QPointer>
#include <QString>

#include <optional>

class SessionHolder;

// The uploaded form of a share: the message and, per file, the upload it went to.
struct FilesShareRequest
{
    struct Video
    {
        int width = 0;
        int height = 0;
        std::optional<double> duration; // seconds; absent when unknown

        bool operator==(const Video &) const = default;
    };

    struct File
    {
        QString uploadID;
        QString filename;
        QString mediaType;
        qint64 sizeBytes = 0;
        std::optional<Video> video;
    };
};

// The one call that delivers a share, in its inline form (images as base64 in the body) or its
// uploaded form (upload IDs).
class ShareSubmission
{
public:
    // The inline form is chosen only while all base64 texts together stay within this.
    static constexpr qint64 maximumInlineBase64Characters = 20'971'520;
    // Base64 length of n bytes: 4 * ((n + 2) / 3).
    static qint64 base64Length(qint64 bytes) { return 4 * ((bytes + 2) / 3); }

    // A fresh lower-case version-4 UUID; each delivery attempt gets its own.
    static QString newShareID();

    // {"message","images":[{"data","filename","mediaType"}],"threadID","shareID"}: reads and
    // encodes the files on a worker thread. Throws ShareError naming a file that cannot be
    // read; nothing is sent then.
    static QCoro::Task<QByteArray> makeInlineShareBody(QString message, QList<SharedFile> files,
                                                       std::optional<QString> threadID,
                                                       QString shareID);
    // The same, synchronously, on the calling thread.
    static QByteArray inlineShareBody(const QString &message, const QList<SharedFile> &files,
                                      const std::optional<QString> &threadID,
                                      const QString &shareID);

    // {"message","files":[{"uploadID","filename","mediaType","sizeBytes","video"}],"threadID","shareID"}
    static QByteArray makeFilesShareBody(const QString &message,
                                         const QList<FilesShareRequest::File> &files,
                                         const std::optional<QString> &threadID,
                                         const QString &shareID);

    // Delivered only when the answer is {"ok": true, …}; otherwise ShareError "Zelt did not
    // return a valid response.", besides the errors of every service call.
    static QCoro::Task<> submitShare(QPointer<SessionHolder> holder, QByteArray body);
};
