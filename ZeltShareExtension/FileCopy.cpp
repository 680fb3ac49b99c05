#include "FileCopy.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>

namespace {

// The largest piece copied between two looks at the stop flag: a fraction of a second even
// on a slow disk.
constexpr qint64 pieceSize = qint64(32) << 20;

[[noreturn]] void throwErrno(int error, const char *what)
{
    throw std::system_error(error, std::generic_category(), what);
}

[[noreturn]] void throwErrno(const char *what)
{
    throwErrno(errno, what);
}

void checkStop(const std::atomic<bool> *stop)
{
    if (stop && stop->load(std::memory_order_relaxed))
        throwErrno(ECANCELED, "copy");
}

// The errors with which copy_file_range says it cannot copy between these files at all
// (different filesystems on older kernels, special filesystems, no support), as opposed to a
// failure of the copy itself.
bool isUnsupported(int error)
{
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP ||
           error == EPERM;
}

// Copies [offset, end) of source to the same place in destination; gives where it stopped
// (before end when the source ended there).
qint64 copyRangeByReadWrite(int source, int destination, qint64 offset, qint64 end,
                            const std::atomic<bool> *stop)
{
    char buffer[1 << 16];
    qint64 sinceCheck = 0;
    while (offset < end) {
        if (sinceCheck >= pieceSize) {
            checkStop(stop);
            sinceCheck = 0;
        }
        const size_t wanted = size_t(std::min<qint64>(qint64(sizeof buffer), end - offset));
        const ssize_t count = ::pread(source, buffer, wanted, off_t(offset));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throwErrno("read");
        }
        if (count == 0)
            return offset;
        ssize_t written = 0;
        while (written < count) {
            const ssize_t step = ::pwrite(destination, buffer + written, size_t(count - written),
                                          off_t(offset + written));
            if (step < 0) {
                if (errno == EINTR)
                    continue;
                throwErrno("write");
            }
            written += step;
        }
        offset += count;
        sinceCheck += count;
    }
    return offset;
}

// The same in the kernel; false when copy_file_range cannot copy between these files at all
// (nothing copied then), and the caller falls back to reads and writes.
bool copyRangeInKernel(int source, int destination, qint64 &offset, qint64 end,
                       const std::atomic<bool> *stop)
{
    while (offset < end) {
        checkStop(stop);
        loff_t in = offset;
        loff_t out = offset;
        const ssize_t count = ::copy_file_range(source, &in, destination, &out,
                                                size_t(std::min(pieceSize, end - offset)), 0);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            if (isUnsupported(errno))
                return false;
            throwErrno("copy_file_range");
        }
        // The source ends here, or (procfs-like filesystems) claims to: reads tell.
        if (count == 0)
            return false;
        offset += count;
    }
    return true;
}

} // namespace

qint64 FileCopy::freeSpaceMargin(int descriptor)
{
    struct statvfs filesystem = {};
    if (::fstatvfs(descriptor, &filesystem) != 0)
        return 0;
    const qint64 total = qint64(filesystem.f_blocks) * qint64(filesystem.f_frsize);
    return std::min<qint64>(total / 20, qint64(256) << 20);
}

bool FileCopy::hasRoomFor(int descriptor, qint64 bytes)
{
    struct statvfs filesystem = {};
    // A filesystem that cannot tell is written to as before; a full one still fails then.
    if (::fstatvfs(descriptor, &filesystem) != 0 || filesystem.f_blocks == 0)
        return true;
    const qint64 available = qint64(filesystem.f_bavail) * qint64(filesystem.f_frsize);
    return available - bytes >= freeSpaceMargin(descriptor);
}

qint64 FileCopy::copyContents(int sourceDescriptor, int destinationDescriptor, qint64 size,
                              const std::atomic<bool> *stop)
{
    checkStop(stop);
    if (size <= 0)
        return 0;

    // A reflink shares the blocks at once and takes no space; the clone is cut back to the
    // size that was read, should the source have grown.
    if (::ioctl(destinationDescriptor, FICLONE, sourceDescriptor) == 0) {
        struct stat status = {};
        if (::fstat(destinationDescriptor, &status) != 0)
            throwErrno("fstat");
        if (status.st_size > size && ::ftruncate(destinationDescriptor, off_t(size)) != 0)
            throwErrno("ftruncate");
        return std::min<qint64>(status.st_size, size);
    }

    struct stat source = {};
    if (::fstat(sourceDescriptor, &source) != 0)
        throwErrno("fstat");
    // A sparse file takes only its data blocks.
    const qint64 needed = std::min<qint64>(size, qint64(source.st_blocks) * 512);
    if (!hasRoomFor(destinationDescriptor, needed))
        throwErrno(ENOSPC, "copy");

    bool inKernel = true;
    qint64 offset = 0;
    while (offset < size) {
        checkStop(stop);
        // The next stretch of data; past the last one the rest is a hole. A filesystem
        // without hole support reports all of the file as data.
        const off_t data = ::lseek(sourceDescriptor, off_t(offset), SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO)
                break;
            throwErrno("lseek");
        }
        if (data >= size)
            break;
        off_t hole = ::lseek(sourceDescriptor, data, SEEK_HOLE);
        if (hole < 0)
            hole = off_t(size);
        const qint64 end = std::min<qint64>(hole, size);
        offset = data;
        if (inKernel &&
            copyRangeInKernel(sourceDescriptor, destinationDescriptor, offset, end, stop))
            continue;
        inKernel = false;
        const qint64 reached =
            copyRangeByReadWrite(sourceDescriptor, destinationDescriptor, offset, end, stop);
        if (reached < end)
            return reached;
        offset = reached;
    }
    // The holes at the end, and a source that shrank: it now ends before the size that was read.
    if (::fstat(sourceDescriptor, &source) != 0)
        throwErrno("fstat");
    const qint64 copied = std::min<qint64>(size, source.st_size);
    if (::ftruncate(destinationDescriptor, off_t(copied)) != 0)
        throwErrno("ftruncate");
    return copied;
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
