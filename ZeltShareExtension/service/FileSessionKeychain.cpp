#include "FileSessionKeychain.h"

#include "AppIdentifiers.h"
#include "FileLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 maximumItemSize = 1024 * 1024;

QString systemError(const QString &what)
{
    return what + u": "_s + QString::fromLocal8Bit(std::strerror(errno));
}

// Creates the directory with mode 0700, or narrows an existing one to it.
void ensurePrivateDirectory(const QByteArray &path)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        throw KeychainError(KeychainError::Status::Failed,
                            systemError(QString::fromLocal8Bit(path)));
    ::chmod(path.constData(), 0700);
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype offset = 0;
    while (offset < bytes.size()) {
        const auto written = ::write(fd, bytes.constData() + offset, size_t(bytes.size() - offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        offset += written;
    }
    return true;
}

// The process id of a writer's temporary "<item>.new-<pid>", or none for any other name.
std::optional<pid_t> temporaryWriter(const QString &name, const QString &prefix)
{
    if (!name.startsWith(prefix) || name.size() == prefix.size())
        return std::nullopt;
    const auto digits = QStringView(name).mid(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
        return std::nullopt;
    bool ok = false;
    const auto pid = digits.toInt(&ok);
    return ok && pid > 0 ? std::optional(pid_t(pid)) : std::nullopt;
}

bool isRunning(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

} // namespace

FileSessionKeychain::FileSessionKeychain(const QString &directory, const QString &accessGroup)
    : m_directory(directory)
    , m_accessGroup(accessGroup)
{}

QString FileSessionKeychain::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           u"/app.zelt.keychain"_s;
}

QString FileSessionKeychain::itemPath() const
{
    return m_directory + u'/' + m_accessGroup + u'/' + AppIdentifiers::keychainAccount + u'@' +
           AppIdentifiers::keychainService + u".json"_s;
}

std::optional<FileSessionKeychain::Item> FileSessionKeychain::readItem() const
{
    // The access group names a directory; one that is not a plain name has no item.
    if (m_accessGroup.contains(u'/') || m_accessGroup == u"."_s || m_accessGroup == u".."_s)
        return std::nullopt;
    QFile file(itemPath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto document = QJsonDocument::fromJson(file.read(maximumItemSize));
    const auto object = document.object();
    const auto generic = object.value(QLatin1StringView("generic"));
    const auto data = object.value(QLatin1StringView("data"));
    if (!generic.isString() || !data.isString())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(data.toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return Item{QByteArray::fromHex(generic.toString().toLatin1()), *decoded};
}

SessionKeychain::Contents FileSessionKeychain::contents()
{
    if (auto item = readItem())
        return {Contents::State::Item, item->data};
    return {};
}

void FileSessionKeychain::sweepTemporaries() const
{
    // A writer killed before its rename leaves its temporary behind, a session inside, and
    // nothing else removes it. Writers hold the lock while theirs exists, so under the lock
    // every one is a leftover; a live process's is left alone all the same.
    const QFileInfo item(itemPath());
    const QString prefix = item.fileName() + u".new-"_s;
    const QDir directory = item.dir();
    for (const auto &name : directory.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const auto writer = temporaryWriter(name, prefix);
        if (writer && !isRunning(*writer))
            ::unlink(QFile::encodeName(directory.filePath(name)).constData());
    }
}

void FileSessionKeychain::write(const QByteArray &fingerprint, const QByteArray &data)
{
    sweepTemporaries();
    const QJsonObject object{
        {QLatin1StringView("accessGroup"), m_accessGroup},
        {QLatin1StringView("account"), AppIdentifiers::keychainAccount},
        {QLatin1StringView("service"), AppIdentifiers::keychainService},
        {QLatin1StringView("generic"), QString::fromLatin1(fingerprint.toHex())},
        {QLatin1StringView("data"), QString::fromLatin1(data.toBase64())},
    };
    const auto path = QFile::encodeName(itemPath());
    const auto temporary = path + ".new-" + QByteArray::number(::getpid());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw KeychainError(KeychainError::Status::Failed,
                            systemError(QString::fromLocal8Bit(temporary)));
    const bool written =
        writeAll(fd, QJsonDocument(object).toJson(QJsonDocument::Compact)) && ::fsync(fd) == 0;
    auto error = errno;
    ::close(fd);
    if (written) {
        if (::rename(temporary.constData(), path.constData()) == 0)
            return;
        error = errno;
    }
    ::unlink(temporary.constData());
    errno = error;
    throw KeychainError(KeychainError::Status::Failed, systemError(QString::fromLocal8Bit(path)));
}

void FileSessionKeychain::store(const QByteArray &fingerprint, const QByteArray &data)
{
    if (m_accessGroup.contains(u'/') || m_accessGroup == u"."_s || m_accessGroup == u".."_s)
        throw KeychainError(KeychainError::Status::Failed,
                            QStringLiteral("invalid access group for the file keychain"));
    // $XDG_DATA_HOME itself may not exist yet on a fresh account.
    QDir().mkpath(QFileInfo(m_directory).absolutePath());
    ensurePrivateDirectory(QFile::encodeName(m_directory));
    ensurePrivateDirectory(QFile::encodeName(m_directory + u'/' + m_accessGroup));
    const FileLock lock(itemPath() + u".lock"_s);
    write(fingerprint, data);
}

void FileSessionKeychain::replace(const QByteArray &expectedFingerprint,
                                  const QByteArray &fingerprint, const QByteArray &data)
{
    if (!readItem())
        throw KeychainError(KeychainError::Status::NotFound, QStringLiteral("no session item"));
    const FileLock lock(itemPath() + u".lock"_s);
    const auto current = readItem();
    if (!current || current->fingerprint != expectedFingerprint)
        throw KeychainError(KeychainError::Status::NotFound,
                            QStringLiteral("the session item was replaced meanwhile"));
    write(fingerprint, data);
}

void FileSessionKeychain::remove(const std::optional<QByteArray> &expectedFingerprint)
{
    if (!readItem())
        return;
    try {
        const FileLock lock(itemPath() + u".lock"_s);
        const auto current = readItem();
        if (!current || (expectedFingerprint && current->fingerprint != *expectedFingerprint))
            return;
        ::unlink(QFile::encodeName(itemPath()).constData());
    } catch (const KeychainError &) {
        // Deletion is best effort.
    }
}
