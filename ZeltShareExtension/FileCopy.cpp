#include "FileCopy.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

[[noreturn]] void throwErrno(const char *what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// The errors with which copy_file_range says it cannot copy between these files at all
// (different filesystems on older kernels, special filesystems, no support), as opposed to a
// failure of the copy itself.
bool isUnsupported(int error)
{
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP ||
           error == EPERM;
}

qint64 copyByReadWrite(int source, int destination, qint64 copied)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t count = ::read(source, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throwErrno("read");
        }
        if (count == 0)
            return copied;
        ssize_t written = 0;
        while (written < count) {
            const ssize_t step = ::write(destination, buffer + written, size_t(count - written));
            if (step < 0) {
                if (errno == EINTR)
                    continue;
                throwErrno("write");
            }
            written += step;
        }
        copied += count;
    }
}

} // namespace

qint64 FileCopy::copyContents(int sourceDescriptor, int destinationDescriptor)
{
    if (::ioctl(destinationDescriptor, FICLONE, sourceDescriptor) == 0) {
        struct stat status = {};
        if (::fstat(destinationDescriptor, &status) != 0)
            throwErrno("fstat");
        return status.st_size;
    }

    qint64 copied = 0;
    for (;;) {
        const ssize_t count = ::copy_file_range(sourceDescriptor, nullptr, destinationDescriptor,
                                                nullptr, size_t(1) << 30, 0);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            // Nothing written yet: both offsets are still at the start, so plain reads and
            // writes can take over from here.
            if (copied == 0 && isUnsupported(errno))
                break;
            throwErrno("copy_file_range");
        }
        if (count == 0) {
            // Some filesystems (procfs-like ones) claim an empty file here; reads tell.
            if (copied == 0)
                break;
            return copied;
        }
        copied += count;
    }
    return copyByReadWrite(sourceDescriptor, destinationDescriptor, copied);
}

bool FileCopy::isRegularFile(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    const int descriptor = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0)
        return false;
    struct stat status = {};
    const bool regular = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    ::close(descriptor);
    return regular;
}
