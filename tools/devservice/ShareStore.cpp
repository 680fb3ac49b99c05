#include "ShareStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QUuid>

#include <climits>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype maximumNameLength = 160;

bool writeFile(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
}

} // namespace

ShareStore::ShareStore(const QString &directory)
    : m_directory(directory)
{
    QDir().mkpath(m_directory);
    // Leftovers of a share that was being assembled when the service stopped.
    QDir dir(m_directory);
    for (const auto &name : dir.entryList({u".incoming-*"_s}, QDir::Dirs | QDir::Hidden))
        QDir(dir.filePath(name)).removeRecursively();
}

QString ShareStore::shareDirectory(const QString &shareID) const
{
    return m_directory + u'/' + shareID;
}

QString ShareStore::storedFileName(qsizetype index, const QString &filename)
{
    QString name;
    for (const QChar c : filename) {
        const bool unsafe = c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f;
        name.append(unsafe ? u'_' : c);
    }
    name = name.trimmed().left(maximumNameLength);
    if (name.isEmpty() || name == u"."_s || name == u".."_s)
        name = u"file"_s;
    // A file name holds at most NAME_MAX bytes, the index in front of it included: a long name
    // loses letters from the end of its base, a whole character at a time, and keeps its
    // extension.
    const QString prefix = u"%1-"_s.arg(index + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString extension = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
    QString base = name.left(name.size() - extension.size());
    while (!base.isEmpty() && (prefix + base + extension).toUtf8().size() > NAME_MAX)
        base.chop(base.size() >= 2 && base.back().isLowSurrogate() ? 2 : 1);
    if (base.isEmpty())
        base = u"file"_s;
    return prefix + base + extension;
}

std::optional<ShareStore::Result> ShareStore::existing(const QString &shareID,
                                                       const QString &userID) const
{
    std::lock_guard lock(m_mutex);
    return existingLocked(shareID, userID);
}

std::optional<ShareStore::Result> ShareStore::existingLocked(const QString &shareID,
                                                             const QString &userID) const
{
    QFile file(shareDirectory(shareID) + u"/share.json"_s);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto owner = QJsonDocument::fromJson(file.readAll()).object().value(u"userID"_s);
    return owner.toString() == userID ? Result::Replayed : Result::Conflict;
}

ShareStore::Result ShareStore::store(const Share &share, QString *error)
{
    std::lock_guard lock(m_mutex);
    if (const auto found = existingLocked(share.shareID, share.userID))
        return *found;

    const QString staging =
        m_directory + u"/.incoming-"_s + QUuid::createUuid().toString(QUuid::Id128);
    QList<std::pair<QString, QString>> moved;
    auto fail = [&](const QString &message) {
        // Uploads go back where they were, so a new attempt can still claim them.
        for (const auto &[from, to] : std::as_const(moved))
            QFile::rename(to, from);
        QDir(staging).removeRecursively();
        *error = message;
        return Result::Failed;
    };
    if (!QDir().mkpath(staging + u"/files"_s))
        return fail(u"The share could not be stored."_s);

    QJsonArray files;
    for (qsizetype i = 0; i < share.files.size(); ++i) {
        const auto &file = share.files.at(i);
        const auto name = storedFileName(i, file.filename);
        const auto path = staging + u"/files/"_s + name;
        if (!file.sourcePath.isEmpty()) {
            if (!QFile::rename(file.sourcePath, path))
                return fail(u"The share could not be stored."_s);
            moved.append({file.sourcePath, path});
        } else if (!writeFile(path, file.data)) {
            return fail(u"The share could not be stored."_s);
        }
        QJsonObject entry = file.details;
        entry.insert(u"filename"_s, file.filename);
        entry.insert(u"mediaType"_s, file.mediaType);
        entry.insert(u"sizeBytes"_s, double(file.sizeBytes));
        entry.insert(u"storedAs"_s, u"files/"_s + name);
        files.append(entry);
    }
    const QJsonObject record{
        {u"shareID"_s, share.shareID},
        {u"userID"_s, share.userID},
        {u"receivedAt"_s, share.receivedAt.toUTC().toString(Qt::ISODateWithMs)},
        {u"form"_s, share.form},
        {u"destination"_s, share.destination},
        {u"message"_s, share.message},
        {u"files"_s, files},
    };
    if (!writeFile(staging + u"/share.json"_s, QJsonDocument(record).toJson()))
        return fail(u"The share could not be stored."_s);
    if (!QDir().rename(staging, shareDirectory(share.shareID)))
        return fail(u"The share could not be stored."_s);
    return Result::Stored;
}
