#pragma once

#include <QString>
#include <QtGlobal>

// Copies the contents of one open file into another, the cheapest way the filesystems allow: a
// reflink that shares the blocks (FICLONE), else an in-kernel copy (copy_file_range), else
// reads and writes. Any thread.
class FileCopy
{
public:
    // Copies source (read from its start) into destination (written from its start, expected
    // empty) and gives the number of bytes copied. Throws std::system_error.
    static qint64 copyContents(int sourceDescriptor, int destinationDescriptor);

    // True for a regular file only: a pipe or a device would block a reader or never end.
    // Opened without blocking to find out.
    static bool isRegularFile(const QString &path);
};
