#pragma once

#include <QString>

// The sheet's private directory for copies of the shared files:
//   $XDG_CACHE_HOME/app.zelt.ZeltShareExtension/ZeltShare-<UUID>   (mode 0700, disk-backed)
// Beside it, "ZeltShare-<UUID>.lock" stays locked (flock) for the life of the sheet, so that the
// next sheet can tell a directory left behind by a killed process from one in use.
class ShareTemporaryDirectory
{
public:
    // A new directory name under the cache root; the directory itself is created by the first
    // copy (or by ensureCreated()). Takes the lock at once.
    ShareTemporaryDirectory();
    // Under another root, for tests.
    explicit ShareTemporaryDirectory(const QString &root);
    ~ShareTemporaryDirectory();
    ShareTemporaryDirectory(const ShareTemporaryDirectory &) = delete;
    ShareTemporaryDirectory &operator=(const ShareTemporaryDirectory &) = delete;

    static QString defaultRoot();

    const QString &path() const { return m_path; }
    // Creates the root and the directory, both 0700. False when that fails.
    bool ensureCreated() const;
    // Removes the directory and everything in it; failures are ignored. The lock stays until
    // the object goes.
    void remove() const;

    // Removes every directory under root whose sheet is gone (its lock file is not held).
    // Returns how many were removed.
    static int sweepLeftovers(const QString &root = defaultRoot());

private:
    QString m_root;
    QString m_path;
    int m_lockFd = -1;
};
