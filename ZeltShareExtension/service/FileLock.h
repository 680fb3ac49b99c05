#pragma once

#include <QString>

// An exclusive flock() on a lock file (created 0600) for the life of the object. Throws
// KeychainError when the file cannot be opened or locked.
class FileLock
{
public:
    explicit FileLock(const QString &path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    int m_fd = -1;
};
