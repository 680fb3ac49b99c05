#pragma once

#include <QString>

#include <memory>

// The sheet's private directory for copies of the shared files:
//   $XDG_CACHE_HOME/app.zelt.ZeltShareExtension/ZeltShare-<UUID>   (mode 0700, disk-backed)
// Beside it, "ZeltShare-<UUID>.lock" stays locked (flock) for the life of the sheet, so that the
// next sheet can tell a directory left behind by a killed process from one in use. The cache
// root itself is used only when it is a directory of the user's own: a link, or a directory of
// another user, could send the copies (and the sweep) anywhere.
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
    // Whether the root is a directory of the user's own and the lock is held; copies go
    // nowhere else.
    bool isUsable() const { return m_lock != nullptr; }
    // Creates the root and the directory, both 0700. False when that fails or the root is not
    // a directory of the user's own.
    bool ensureCreated() const;
    // Removes the directory and everything in it; failures are ignored. The lock stays until
    // the object goes.
    void remove() const;

    // Creates path as a directory private to the user (0700) unless it is one already. False
    // when it cannot be made, or is a link, not a directory, or another user's.
    static bool ensurePrivateDirectory(const QString &path);
    // The one line the user sees when the cache root cannot be used.
    static QString unsafeRootMessage(const QString &root);

    // A lock file held for as long as the returned object lives: the mark of a directory in
    // use. None when the file cannot be made and locked.
    class Lock;
    static std::unique_ptr<Lock> lock(const QString &lockPath);

    // Removes every directory under root whose sheet is gone (its lock file is not held), the
    // lock files left without a directory, and the spool directories of standard input whose
    // process is gone. Nothing in a root that is not the user's own. Returns how many
    // directories were removed.
    static int sweepLeftovers(const QString &root = defaultRoot());

private:
    QString m_root;
    QString m_path;
    std::unique_ptr<Lock> m_lock;
};

class ShareTemporaryDirectory::Lock
{
public:
    explicit Lock(int descriptor)
        : m_descriptor(descriptor)
    {}
    ~Lock();
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    int m_descriptor;
};
