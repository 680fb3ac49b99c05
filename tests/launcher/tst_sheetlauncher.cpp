#include "SheetLauncher.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

// The sheet started detached, as the browser host and the Share menu's plugin start it.
class TestSheetLauncher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A shell stands in for the sheet and writes down where it runs and what it was given.
    void startsDetachedWithItsInput()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString report = directory.filePath(u"report"_s);
        const QString input = directory.filePath(u"input"_s);
        // Larger than a pipe holds: the launcher must not wait for the program to read it.
        QByteArray data(4 * 1024 * 1024, 'x');
        data.append("end\n");
        const QString script = uR"(exec 2>/dev/null
{ ps -o sid= -p $$; ps -o pgid= -p $$; pwd; ls /proc/self/fd | wc -l; echo "$1";
  echo "$XDG_ACTIVATION_TOKEN"; echo "$DESKTOP_STARTUP_ID"; } > "$2.part"
cat > "$3" && mv "$2.part" "$2")"_s;
        // The activation token that the host handed its helper, for the sheet's window.
        qputenv("XDG_ACTIVATION_TOKEN", "wayland-token-1");
        qputenv("DESKTOP_STARTUP_ID", "files-1-host-zelt-share_TIME42");
        const auto failure = SheetLauncher::start(
            u"/bin/sh"_s, {u"-c"_s, script, u"sh"_s, u"first argument"_s, report, input}, data);
        qunsetenv("XDG_ACTIVATION_TOKEN");
        qunsetenv("DESKTOP_STARTUP_ID");
        QVERIFY2(!failure, qPrintable(failure.value_or(QString())));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(report), 20000);

        QFile file(report);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const auto lines = QString::fromUtf8(file.readAll()).split(u'\n');
        QVERIFY(lines.size() >= 7);
        const qint64 session = lines[0].trimmed().toLongLong();
        QVERIFY(session > 0);
        QVERIFY(session != ::getsid(0));
        QVERIFY(lines[1].trimmed().toLongLong() != ::getpgrp());
        QCOMPARE(lines[2], u"/"_s);
        // 0, 1, 2 and the descriptor ls reads: nothing of this process's.
        QCOMPARE(lines[3].trimmed(), u"4"_s);
        QCOMPARE(lines[4], u"first argument"_s);
        QCOMPARE(lines[5], u"wayland-token-1"_s);
        QCOMPARE(lines[6], u"files-1-host-zelt-share_TIME42"_s);
        QFile copy(input);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), data);
    }

    void reportsAProgramThatCannotRun_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("missing") << u"/nonexistent/zelt-share"_s;
        QTest::newRow("not executable") << u"/etc/hostname"_s;
        QTest::newRow("a folder") << u"/"_s;
    }

    void reportsAProgramThatCannotRun()
    {
        QFETCH(QString, program);
        const auto failure = SheetLauncher::start(program, {});
        QVERIFY(failure);
        QVERIFY2(failure->startsWith(program + u": "_s), qPrintable(*failure));
    }
};

QTEST_GUILESS_MAIN(TestSheetLauncher)
#include "tst_sheetlauncher.moc"
