#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

// The service's own file storage: prepared uploads, their signed upload URLs and the bytes
// that arrive for them, under <directory>.
//
// An upload URL is /storage/<uploadID>?expires=<unix seconds>&signature=<base64url>, where the
// signature is HMAC-SHA256 of "PUT\n/storage/<uploadID>\n<expires>" with a key the service
// makes at start. So a URL is good for one upload, one method and a limited time, and a
// restarted service no longer honours the URLs of the previous run.
//
// Bodies go straight to a file of their own while they arrive, never whole into memory, and
// become the upload only when their size is the prepared one.
class UploadStorage
{
public:
    using Clock = std::chrono::system_clock;

    struct Upload
    {
        QString uploadID;
        QString userID;
        QString filename;
        QString mediaType;
        qint64 sizeBytes = 0;
        Clock::time_point expiresAt;
        bool received = false;
        bool claimed = false;
        // How the bytes came: "direct", or "proxy" with the proxy's reason and the status of
        // the failed direct upload.
        QString via;
        QString proxyReason;
        std::optional<int> directStatus;
        QByteArray sha256;
    };

    enum class UrlCheck { Valid, BadSignature, Expired, Unknown };

    // One request body on its way to disk.
    class Receiver
    {
    public:
        void write(const char *data, size_t length);
        qint64 bytesReceived() const { return m_received; }
        qint64 bytesExpected() const { return m_expected; }

    private:
        friend class UploadStorage;
        QString m_uploadID;
        qint64 m_expected = 0;
        qint64 m_received = 0;
        bool m_failed = false;
        std::unique_ptr<QFile> m_file;
        QCryptographicHash m_hash{QCryptographicHash::Sha256};
    };

    enum class Completion { Stored, SizeMismatch, Unknown, WriteFailed };

    UploadStorage(const QString &directory, std::chrono::seconds lifetime);

    Upload prepare(const QString &userID, const QString &filename, const QString &mediaType,
                   qint64 sizeBytes, Clock::time_point now);
    // "/storage/<uploadID>?expires=…&signature=…"
    QString signedPathAndQuery(const Upload &upload) const;
    UrlCheck check(const QString &uploadID, const QString &expires, const QString &signature,
                   Clock::time_point now, Upload *upload = nullptr) const;

    std::unique_ptr<Receiver> receive(const QString &uploadID);
    // Makes the received body the upload's bytes when it has the prepared size.
    Completion complete(Receiver &receiver, const QString &via, const QString &proxyReason,
                        std::optional<int> directStatus);

    // Reserves received uploads of the user for one share. None, with the reason in error,
    // when one is unknown, not the user's, not received, already taken or of another size.
    std::optional<QList<Upload>> claim(const QList<std::pair<QString, qint64>> &uploads,
                                       const QString &userID, QString *error);
    void release(const QStringList &uploadIDs);
    // The claimed uploads' files were moved into a share.
    void forget(const QStringList &uploadIDs);
    QString filePath(const QString &uploadID) const;

private:
    QString signature(const QString &uploadID, qint64 expires) const;

    QString m_directory;
    std::chrono::seconds m_lifetime;
    QByteArray m_key;
    mutable std::mutex m_mutex;
    QHash<QString, Upload> m_uploads;
};
