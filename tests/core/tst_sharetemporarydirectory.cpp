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

        // A spool directory of a running share has no lock and must stay.
        const QString spool = root.filePath(u"ZeltShare-spool-abc123"_s);
        QVERIFY(QDir().mkpath(spool));

        QCOMPARE(ShareTemporaryDirectory::sweepLeftovers(root.path()), 2);
        QVERIFY(QFileInfo::exists(spool));
        QVERIFY(QFileInfo::exists(live.path()));
        QVERIFY(!QFileInfo::exists(orphanLocked));
        QVERIFY(!QFileInfo::exists(orphanLocked + u".lock"_s));
        QVERIFY(!QFileInfo::exists(orphanBare));
        QVERIFY(QFileInfo::exists(unrelated));
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
