#include "FileLock.h"

#include "SessionKeychain.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

FileLock::FileLock(const QString &path)
{
    const auto name = QFile::encodeName(path);
    m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    int result = m_fd < 0 ? -1 : 0;
    if (m_fd >= 0) {
        do {
            result = ::flock(m_fd, LOCK_EX);
        } while (result != 0 && errno == EINTR);
    }
    if (result != 0) {
        const auto message = path + u": "_s + QString::fromLocal8Bit(std::strerror(errno));
        if (m_fd >= 0)
            ::close(m_fd);
        throw KeychainError(KeychainError::Status::Failed, message);
    }
}

FileLock::~FileLock()
{
    ::close(m_fd);
}
