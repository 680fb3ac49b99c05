#include "ShareTemporaryDirectory.h"
#include "TerminationSignals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestShareTemporaryDirectory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void privateDirectoryLifecycle()
    {
        QTemporaryDir root;
        QString path;
        {
            ShareTemporaryDirectory directory(root.filePath(u"cache"_s));
            path = directory.path();
            static const QRegularExpression name(
                u"/ZeltShare-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_s);
            QVERIFY2(name.match(path).hasMatch(), qPrintable(path));
            QVERIFY(!QFileInfo::exists(path)); // made by the first copy, not before
            QVERIFY(directory.ensureCreated());
            const auto permissions = QFileInfo(path).permissions();
            QCOMPARE(permissions & (QFile::ReadGroup | QFile::ReadOther | QFile::ExeOther),
                     QFile::Permissions());
            QCOMPARE(QFileInfo(root.filePath(u"cache"_s)).permissions() & QFile::ReadOther,
                     QFile::Permissions());
            QVERIFY(QDir().mkpath(path + u"/ITEM/sub"_s));
            QFile copy(path + u"/ITEM/sub/file.txt"_s);
            QVERIFY(copy.open(QIODevice::WriteOnly));
            copy.write("x");
        }
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(!QFileInfo::exists(path + u".lock"_s));
    }

    // Directories of sheets that are gone are swept; one in use stays.
    void sweep()
    {
        QTemporaryDir root;
        ShareTemporaryDirectory live(root.path());
        QVERIFY(live.ensureCreated());

        const QString orphanLocked = root.filePath(u"ZeltShare-A"_s);
        QVERIFY(QDir().mkpath(orphanLocked + u"/item"_s));
        QFile lock(orphanLocked + u".lock"_s);
        QVERIFY(lock.open(QIODevice::WriteOnly)); // a lock file nobody holds
        lock.close();
        const QString orphanBare = root.filePath(u"ZeltShare-B"_s);
        QVERIFY(QDir().mkpath(orphanBare));
        const QString unrelated = root.filePath(u"ToviAvatars"_s);
        QVERIFY(QDir().mkpath(unrelated));

        // A spool directory that a running share is just making has no lock yet and stays; one
        // whose lock is held stays; one whose lock nobody holds is left over.
        const QString spool = root.filePath(u"ZeltShare-spool-abc123"_s);
        QVERIFY(QDir().mkpath(spool));
        const QString liveSpool = root.filePath(u"ZeltShare-spool-live"_s);
        QVERIFY(QDir().mkpath(liveSpool));
        const auto spoolLock = ShareTemporaryDirectory::lock(liveSpool + u"/.lock"_s);
        QVERIFY(spoolLock);
        const QString deadSpool = root.filePath(u"ZeltShare-spool-dead"_s);
        QVERIFY(QDir().mkpath(deadSpool));
        QFile deadLock(deadSpool + u"/.lock"_s);
        QVERIFY(deadLock.open(QIODevice::WriteOnly));
        deadLock.close();
        // A lock file whose sheet died before it made its directory goes too; the lock of a
        // sheet that has not made its directory yet stays.
        const QString orphanLock = root.filePath(u"ZeltShare-C.lock"_s);
        QFile orphan(orphanLock);
        QVERIFY(orphan.open(QIODevice::WriteOnly));
        orphan.close();
        ShareTemporaryDirectory starting(root.path());

        QCOMPARE(ShareTemporaryDirectory::sweepLeftovers(root.path()), 3);
        QVERIFY(QFileInfo::exists(spool));
        QVERIFY(QFileInfo::exists(liveSpool));
        QVERIFY(!QFileInfo::exists(deadSpool));
        QVERIFY(!QFileInfo::exists(orphanLock));
        QVERIFY(QFileInfo::exists(starting.path() + u".lock"_s));
        QVERIFY(starting.ensureCreated());
        QVERIFY(QFileInfo::exists(live.path()));
        QVERIFY(!QFileInfo::exists(orphanLocked));
        QVERIFY(!QFileInfo::exists(orphanLocked + u".lock"_s));
        QVERIFY(!QFileInfo::exists(orphanBare));
        QVERIFY(QFileInfo::exists(unrelated));
    }

    // A cache root that is a link, or another user's directory, is neither used nor swept.
    void unsafeRoot_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("link") << u"link"_s;
        QTest::newRow("another user's") << u"owner"_s;
    }

    void unsafeRoot()
    {
        QFETCH(QString, kind);
        QTemporaryDir base;
        const QString target = base.filePath(u"elsewhere"_s);
        QVERIFY(QDir().mkpath(target + u"/ZeltShare-X"_s));
        QString root = target;
        if (kind == u"link") {
            root = base.filePath(u"cache"_s);
            QVERIFY(QFile::link(target, root));
        } else {
            if (::geteuid() != 0)
                QSKIP("only root can give a directory to another user");
            QCOMPARE(::chown(QFile::encodeName(target).constData(), 65534, 65534), 0);
        }
        ShareTemporaryDirectory directory(root);
        QVERIFY(!directory.isUsable());
        QVERIFY(!directory.ensureCreated());
        QCOMPARE(ShareTemporaryDirectory::sweepLeftovers(root), 0);
        QVERIFY(QFileInfo::exists(target + u"/ZeltShare-X"_s));
    }

    void terminationSignalsArriveOnTheEventLoop()
    {
        TerminationSignals signals;
        QSignalSpy spy(&signals, &TerminationSignals::terminationRequested);
        ::raise(SIGTERM);
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.first().first().toInt(), SIGTERM);
    }
};

QTEST_GUILESS_MAIN(TestShareTemporaryDirectory)
#include "tst_sharetemporarydirectory.moc"
