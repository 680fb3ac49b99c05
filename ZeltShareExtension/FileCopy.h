#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>

// Copies the contents of one open file into another, the cheapest way the filesystems allow: a
// reflink that shares the blocks (FICLONE), else an in-kernel copy (copy_file_range) of the
// parts that hold data, so that the holes of a sparse file stay holes, else reads and writes.
// Any thread.
class FileCopy
{
public:
    // Copies the first size bytes of source into destination (written from its start,
    // expected empty) and gives the number of bytes copied: size, or less when the source
    // ended early (it shrank since its size was read). A source that grew meanwhile is copied
    // up to size only. Throws std::system_error: ENOSPC when the destination's filesystem
    // would keep less than freeSpaceMargin() free, ECANCELED once stop is set (read between
    // pieces of at most 32 MiB), or what a read or write reported.
    static qint64 copyContents(int sourceDescriptor, int destinationDescriptor, qint64 size,
                               const std::atomic<bool> *stop = nullptr);

    // What a copy leaves free on the filesystem of descriptor at least: 5 % of its size, and
    // no more than 256 MiB. A sheet that fills the disk breaks whatever else runs.
    static qint64 freeSpaceMargin(int descriptor);
    // Whether bytes more can be written to descriptor's filesystem while keeping the margin.
    static bool hasRoomFor(int descriptor, qint64 bytes);

    // True for a regular file only: a pipe or a device would block a reader or never end.
    // Opened without blocking to find out.
    static bool isRegularFile(const QString &path);
};
