#include "UploadStorage.h"

#include "Base64Url.h"

#include <QDir>
#include <QMessageAuthenticationCode>
#include <QUuid>

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

qint64 unixSeconds(UploadStorage::Clock::time_point point)
{
    return std::chrono::duration_cast<std::chrono::seconds>(point.time_since_epoch()).count();
}

} // namespace

void UploadStorage::Receiver::write(const char *data, size_t length)
{
    const auto before = m_received;
    m_received += qint64(length);
    // Bytes past the prepared size are read and dropped: the answer says the size is wrong.
    if (m_failed || before >= m_expected)
        return;
    const auto keep = std::min<qint64>(qint64(length), m_expected - before);
    m_hash.addData(QByteArrayView(data, keep));
    if (m_file->write(data, keep) != keep)
        m_failed = true;
}

UploadStorage::UploadStorage(const QString &directory, std::chrono::seconds lifetime)
    : m_directory(directory)
    , m_lifetime(lifetime)
    , m_key(32, Qt::Uninitialized)
{
    if (RAND_bytes(reinterpret_cast<unsigned char *>(m_key.data()), int(m_key.size())) != 1)
        throw std::runtime_error("no random bytes for the upload signing key");
    QDir().mkpath(m_directory);
    // Uploads of an earlier run can no longer be claimed: their URLs and records are gone.
    QDir dir(m_directory);
    for (const auto &name : dir.entryList(QDir::Files))
        dir.remove(name);
}

QString UploadStorage::filePath(const QString &uploadID) const
{
    return m_directory + u'/' + uploadID;
}

QString UploadStorage::signature(const QString &uploadID, qint64 expires) const
{
    const QByteArray text =
        "PUT\n/storage/" + uploadID.toLatin1() + '\n' + QByteArray::number(expires);
    return Base64Url::encode(
        QMessageAuthenticationCode::hash(text, m_key, QCryptographicHash::Sha256));
}

UploadStorage::Upload UploadStorage::prepare(const QString &userID, const QString &filename,
                                             const QString &mediaType, qint64 sizeBytes,
                                             Clock::time_point now)
{
    Upload upload;
    upload.uploadID = u"upl-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
    upload.userID = userID;
    upload.filename = filename;
    upload.mediaType = mediaType;
    upload.sizeBytes = sizeBytes;
    upload.expiresAt = now + m_lifetime;

    std::lock_guard lock(m_mutex);
    // Uploads that no share took within a second lifetime are dropped with their bytes.
    m_uploads.removeIf([this, now](QHash<QString, Upload>::iterator entry) {
        if (entry->claimed || entry->expiresAt + m_lifetime > now)
            return false;
        QFile::remove(filePath(entry.key()));
        return true;
    });
    m_uploads.insert(upload.uploadID, upload);
    return upload;
}

QString UploadStorage::signedPathAndQuery(const Upload &upload) const
{
    const auto expires = unixSeconds(upload.expiresAt);
    return u"/storage/%1?expires=%2&signature=%3"_s.arg(upload.uploadID)
        .arg(expires)
        .arg(signature(upload.uploadID, expires));
}

UploadStorage::UrlCheck UploadStorage::check(const QString &uploadID, const QString &expires,
                                             const QString &signatureText, Clock::time_point now,
                                             Upload *upload) const
{
    bool numeric = false;
    const qint64 expiresAt = expires.toLongLong(&numeric);
    const QByteArray expected = signature(uploadID, expiresAt).toLatin1();
    const QByteArray given = signatureText.toLatin1();
    if (!numeric || given.size() != expected.size() ||
        CRYPTO_memcmp(given.constData(), expected.constData(), size_t(expected.size())) != 0)
        return UrlCheck::BadSignature;
    if (unixSeconds(now) >= expiresAt)
        return UrlCheck::Expired;
    std::lock_guard lock(m_mutex);
    const auto it = m_uploads.constFind(uploadID);
    if (it == m_uploads.constEnd() || it->claimed)
        return UrlCheck::Unknown;
    if (upload)
        *upload = *it;
    return UrlCheck::Valid;
}

std::unique_ptr<UploadStorage::Receiver> UploadStorage::receive(const QString &uploadID)
{
    auto receiver = std::make_unique<Receiver>();
    receiver->m_uploadID = uploadID;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_uploads.constFind(uploadID);
        receiver->m_expected = it == m_uploads.constEnd() ? 0 : it->sizeBytes;
    }
    // Each attempt writes a file of its own, so a retry never mixes with an earlier body.
    receiver->m_file = std::make_unique<QFile>(filePath(uploadID) + u".part-"_s +
                                               QUuid::createUuid().toString(QUuid::Id128));
    if (!receiver->m_file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
        receiver->m_failed = true;
    return receiver;
}

UploadStorage::Completion UploadStorage::complete(Receiver &receiver, const QString &via,
                                                  const QString &proxyReason,
                                                  std::optional<int> directStatus)
{
    receiver.m_file->close();
    const auto partPath = receiver.m_file->fileName();
    std::lock_guard lock(m_mutex);
    const auto it = m_uploads.find(receiver.m_uploadID);
    Completion completion = Completion::Stored;
    if (it == m_uploads.end() || it->claimed)
        completion = Completion::Unknown;
    else if (receiver.m_received != it->sizeBytes)
        completion = Completion::SizeMismatch;
    else if (receiver.m_failed)
        completion = Completion::WriteFailed;
    if (completion != Completion::Stored) {
        QFile::remove(partPath);
        return completion;
    }
    const auto finalPath = filePath(receiver.m_uploadID);
    QFile::remove(finalPath);
    if (!QFile::rename(partPath, finalPath)) {
        QFile::remove(partPath);
        return Completion::WriteFailed;
    }
    it->received = true;
    it->via = via;
    it->proxyReason = proxyReason;
    it->directStatus = directStatus;
    it->sha256 = receiver.m_hash.result();
    return Completion::Stored;
}

std::optional<QList<UploadStorage::Upload>>
UploadStorage::claim(const QList<std::pair<QString, qint64>> &uploads, const QString &userID,
                     QString *error)
{
    std::lock_guard lock(m_mutex);
    QList<Upload> result;
    QStringList seen;
    for (const auto &[uploadID, sizeBytes] : uploads) {
        const auto it = m_uploads.constFind(uploadID);
        if (it == m_uploads.constEnd() || it->userID != userID || it->claimed ||
            seen.contains(uploadID)) {
            *error = u"A file of this share is not an upload of yours."_s;
            return std::nullopt;
        }
        if (!it->received) {
            *error = u"A file of this share has not been uploaded."_s;
            return std::nullopt;
        }
        if (it->sizeBytes != sizeBytes) {
            *error = u"A file of this share does not have the size it was uploaded with."_s;
            return std::nullopt;
        }
        seen.append(uploadID);
        result.append(*it);
    }
    for (const auto &uploadID : std::as_const(seen))
        m_uploads[uploadID].claimed = true;
    return result;
}

void UploadStorage::release(const QStringList &uploadIDs)
{
    std::lock_guard lock(m_mutex);
    for (const auto &uploadID : uploadIDs) {
        const auto it = m_uploads.find(uploadID);
        if (it != m_uploads.end())
            it->claimed = false;
    }
}

void UploadStorage::forget(const QStringList &uploadIDs)
{
    std::lock_guard lock(m_mutex);
    for (const auto &uploadID : uploadIDs)
        m_uploads.remove(uploadID);
}
