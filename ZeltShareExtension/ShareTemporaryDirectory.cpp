#include "ShareTemporaryDirectory.h"

#include "service/AppIdentifiers.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr auto directoryPrefix = "ZeltShare-"_L1;
constexpr auto spoolPrefix = "ZeltShare-spool-"_L1;
constexpr auto lockSuffix = ".lock"_L1;
// The lock inside a spool directory of standard input.
constexpr auto spoolLockName = ".lock"_L1;
// A directory without its lock may be one whose lock is just being made; only older ones are
// taken for leftovers.
constexpr qint64 unlockedGraceSeconds = 60;

// Takes the lock of an existing file without waiting; the descriptor, or -1 when another
// process holds it or it cannot be opened.
int tryLock(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool olderThanGrace(const QFileInfo &info)
{
    return info.lastModified().secsTo(QDateTime::currentDateTime()) > unlockedGraceSeconds;
}

} // namespace

ShareTemporaryDirectory::Lock::~Lock()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

std::unique_ptr<ShareTemporaryDirectory::Lock>
ShareTemporaryDirectory::lock(const QString &lockPath)
{
    const QByteArray name = QFile::encodeName(lockPath);
    // A sweep that took a lock file for an orphan removes it: a lock taken on the removed file
    // would mark nothing, so the lock counts only once the path still names the locked file.
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return nullptr;
        struct stat opened = {};
        struct stat named = {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 &&
            ::lstat(name.constData(), &named) == 0 && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino)
            return std::make_unique<Lock>(fd);
        ::close(fd);
        QThread::msleep(2);
    }
    return nullptr;
}

ShareTemporaryDirectory::ShareTemporaryDirectory()
    : ShareTemporaryDirectory(defaultRoot())
{}

ShareTemporaryDirectory::ShareTemporaryDirectory(const QString &root)
    : m_root(root)
    , m_path(root + u'/' + directoryPrefix +
             QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
{
    // The directories above the root are the user's own business; only the root is checked.
    QDir().mkpath(QFileInfo(m_root).path());
    if (ensurePrivateDirectory(m_root))
        m_lock = lock(m_path + lockSuffix);
}

ShareTemporaryDirectory::~ShareTemporaryDirectory()
{
    remove();
    if (m_lock)
        QFile::remove(m_path + lockSuffix);
}

QString ShareTemporaryDirectory::defaultRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u'/' +
           AppIdentifiers::extensionIdentifier;
}

bool ShareTemporaryDirectory::ensurePrivateDirectory(const QString &path)
{
    const auto name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    // Opened without following a link, so that the mode is set on what was checked.
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info = {};
    const bool own = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) &&
                     info.st_uid == ::getuid() && ::fchmod(fd, 0700) == 0;
    ::close(fd);
    return own;
}

QString ShareTemporaryDirectory::unsafeRootMessage(const QString &root)
{
    return QCoreApplication::translate(
               "ShareTemporaryDirectory",
               "Zelt cannot keep copies in %1: it must be a folder of your own, not a link.")
        .arg(root);
}

bool ShareTemporaryDirectory::ensureCreated() const
{
    return ensurePrivateDirectory(m_root) && ensurePrivateDirectory(m_path);
}

void ShareTemporaryDirectory::remove() const
{
    QDir(m_path).removeRecursively();
}

int ShareTemporaryDirectory::sweepLeftovers(const QString &root)
{
    // Listing through a link would sweep wherever it points.
    const QByteArray encodedRoot = QFile::encodeName(root);
    struct stat rootStatus = {};
    if (::lstat(encodedRoot.constData(), &rootStatus) != 0 || !S_ISDIR(rootStatus.st_mode) ||
        rootStatus.st_uid != ::getuid())
        return 0;

    int removed = 0;
    const QDir directory(root);
    const auto entries = directory.entryInfoList(
        {directoryPrefix + u'*'}, QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden |
                                      QDir::System | QDir::NoSymLinks);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (entry.isDir() && name.startsWith(spoolPrefix)) {
            // A spool of standard input holds its lock inside.
            const QString spoolLock = entry.filePath() + u'/' + spoolLockName;
            const int fd = tryLock(spoolLock);
            if (fd < 0 && (QFileInfo::exists(spoolLock) || !olderThanGrace(entry)))
                continue;
            QDir(entry.filePath()).removeRecursively();
            if (fd >= 0)
                ::close(fd);
            ++removed;
            continue;
        }
        if (entry.isDir()) {
            const QString lockPath = entry.filePath() + lockSuffix;
            const int fd = tryLock(lockPath);
            // Held: the sheet that made the directory still runs.
            if (fd < 0 && QFileInfo::exists(lockPath))
                continue;
            QDir(entry.filePath()).removeRecursively();
            if (fd >= 0) {
                QFile::remove(lockPath);
                ::close(fd);
            }
            ++removed;
            continue;
        }
        // A lock file whose directory was never made, or is gone: removed while it is held by
        // this sweep, so that the sheet it belonged to (if it still starts) takes a new one.
        if (!name.endsWith(lockSuffix))
            continue;
        const QString directoryPath = entry.filePath().chopped(lockSuffix.size());
        if (QFileInfo::exists(directoryPath))
            continue;
        const int fd = tryLock(entry.filePath());
        if (fd < 0)
            continue;
        QFile::remove(entry.filePath());
        ::close(fd);
    }
    return removed;
}
