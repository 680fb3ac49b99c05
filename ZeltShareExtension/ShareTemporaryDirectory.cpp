#include "ShareTemporaryDirectory.h"

#include "service/AppIdentifiers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr auto directoryPrefix = "ZeltShare-"_L1;

int openLock(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

bool makePrivateDirectory(const QString &path)
{
    const auto name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info
    {
    };
    return ::lstat(name.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && ::chmod(name.constData(), 0700) == 0;
}

} // namespace

ShareTemporaryDirectory::ShareTemporaryDirectory()
    : ShareTemporaryDirectory(defaultRoot())
{}

ShareTemporaryDirectory::ShareTemporaryDirectory(const QString &root)
    : m_root(root)
    , m_path(root + u'/' + directoryPrefix +
             QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
{
    if (makePrivateDirectory(m_root)) {
        m_lockFd = openLock(m_path + u".lock"_s);
        if (m_lockFd >= 0)
            ::flock(m_lockFd, LOCK_EX | LOCK_NB);
    }
}

ShareTemporaryDirectory::~ShareTemporaryDirectory()
{
    remove();
    if (m_lockFd >= 0) {
        QFile::remove(m_path + u".lock"_s);
        ::close(m_lockFd);
    }
}

QString ShareTemporaryDirectory::defaultRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u'/' +
           AppIdentifiers::extensionIdentifier;
}

bool ShareTemporaryDirectory::ensureCreated() const
{
    return makePrivateDirectory(m_root) && makePrivateDirectory(m_path);
}

void ShareTemporaryDirectory::remove() const
{
    QDir(m_path).removeRecursively();
}

int ShareTemporaryDirectory::sweepLeftovers(const QString &root)
{
    int removed = 0;
    const QDir directory(root);
    const auto entries = directory.entryList({directoryPrefix + u'*'},
                                             QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const auto &name : entries) {
        // Spool directories of standard input and long texts carry no lock; one is left over
        // when it is older than any share could take.
        if (name.startsWith(u"ZeltShare-spool-")) {
            const QFileInfo spool(directory.filePath(name));
            if (spool.lastModified().secsTo(QDateTime::currentDateTime()) > 24 * 3600) {
                QDir(spool.filePath()).removeRecursively();
                ++removed;
            }
            continue;
        }
        const QString lockPath = directory.filePath(name + u".lock"_s);
        const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CLOEXEC);
        // No lock file, or one nobody holds: the sheet that made the directory is gone.
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        QDir(directory.filePath(name)).removeRecursively();
        if (fd >= 0) {
            QFile::remove(lockPath);
            ::close(fd);
        }
        ++removed;
    }
    return removed;
}
