#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <mutex>
#include <optional>

// The shares the service received, one directory each:
//   <directory>/<shareID>/share.json   what was sent: message, destination, form, files
//   <directory>/<shareID>/files/<n>-<filename>   each file's bytes as received
// A share appears whole or not at all: it is assembled in a hidden directory beside the others
// and renamed into place. A share ID is stored once; sending it again stores nothing.
class ShareStore
{
public:
    struct File
    {
        QString filename;
        QString mediaType;
        qint64 sizeBytes = 0;
        // The bytes of an inline image, or the path of an upload to move in.
        QByteArray data;
        QString sourcePath;
        // Further keys of the file's entry in share.json (video, upload, sha256).
        QJsonObject details;
    };

    struct Share
    {
        QString shareID;
        QString userID;
        QString message;
        // The destination in its remembered JSON form: {"tovi":{}} or {"thread":{"_0":{…}}}.
        QJsonObject destination;
        // "inline" or "uploaded".
        QString form;
        QList<File> files;
        QDateTime receivedAt;
    };

    enum class Result { Stored, Replayed, Conflict, Failed };

    explicit ShareStore(const QString &directory);

    // Replayed when the user already stored this share ID, Conflict when another user did.
    std::optional<Result> existing(const QString &shareID, const QString &userID) const;
    Result store(const Share &share, QString *error);

    QString shareDirectory(const QString &shareID) const;
    // A file name that stays inside files/: index-prefixed, without separators or control
    // characters.
    static QString storedFileName(qsizetype index, const QString &filename);

private:
    std::optional<Result> existingLocked(const QString &shareID, const QString &userID) const;

    QString m_directory;
    mutable std::mutex m_mutex;
};
