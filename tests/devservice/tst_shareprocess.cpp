#include "DevServiceFixture.h"
#include "service/FileSessionKeychain.h"
#include "service/NativeSharedSession.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int slow = 60000;

// zelt-share as installed against a development service of the test's own: the program is
// linked into a prefix whose bundle configuration names the service, and the process gets its
// own XDG directories with the session the main application would have left.
class InstalledShare
{
public:
    explicit InstalledShare(DevServiceFixture &service)
        : m_service(service)
        , m_prefix(QCoreApplication::applicationDirPath() + u"/zelt-share-XXXXXX"_s)
    {
        QDir().mkpath(path(u"bin"_s));
        QDir().mkpath(path(u"share/zelt"_s));
        QDir().mkpath(path(u"lib"_s));
        QFile::link(QCoreApplication::applicationDirPath() + u"/../lib/zelt"_s,
                    path(u"lib/zelt"_s));
        // A hard link keeps the program's own path, by which it finds its configuration.
        const auto program = QCoreApplication::applicationDirPath() + u"/zelt-share"_s;
        if (::link(QFile::encodeName(program).constData(),
                   QFile::encodeName(path(u"bin/zelt-share"_s)).constData()) != 0)
            QFile::copy(program, path(u"bin/zelt-share"_s));
        QFile ca(path(u"ca.pem"_s));
        ca.open(QIODevice::WriteOnly);
        for (const auto &certificate : service.ssl().caCertificates())
            ca.write(certificate.toPem());
        ca.close();
        const QJsonObject bundle{{u"ZeltAppGroupIdentifier"_s, u"app.zelt.shared"_s},
                                 {u"ZeltKeychainAccessGroup"_s, u"app.zelt.shared"_s},
                                 {u"ZeltKeychainBackend"_s, u"file"_s},
                                 {u"ZeltOrbBuildThreadID"_s, u"dev"_s},
                                 {u"ZeltDevBaseOrigin"_s, service.origin()},
                                 {u"ZeltDevCertificateAuthorities"_s, ca.fileName()}};
        QFile configuration(path(u"share/zelt/ZeltShareExtension.json"_s));
        configuration.open(QIODevice::WriteOnly);
        configuration.write(QJsonDocument(bundle).toJson());
        configuration.close();

        for (const auto &name : {u"data"_s, u"config"_s, u"cache"_s, u"runtime"_s})
            QDir().mkpath(path(name));
        QFile::setPermissions(path(u"runtime"_s),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(u"XDG_DATA_HOME"_s, path(u"data"_s));
        m_environment.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
        m_environment.insert(u"XDG_CACHE_HOME"_s, path(u"cache"_s));
        m_environment.insert(u"XDG_RUNTIME_DIR"_s, path(u"runtime"_s));
        // No bus: nothing reaches the desktop of whoever runs the tests.
        m_environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=/nonexistent"_s);
        m_environment.remove(u"WAYLAND_DISPLAY"_s);

        NativeSharedSession session;
        session.baseOrigin = service.origin();
        session.cookieName = u"zelt_session"_s;
        session.cookieValue = QString::fromLatin1(service.signIn());
        FileSessionKeychain keychain(path(u"data/app.zelt.keychain"_s), u"app.zelt.shared"_s);
        keychain.store(session.fingerprint(), session.toJson());
    }

    QString path(const QString &name) const { return m_prefix.filePath(name); }
    QProcessEnvironment &environment() { return m_environment; }

    // Its output is kept for the test to show when something goes wrong.
    void start(QProcess &process, const QStringList &arguments)
    {
        process.setProcessEnvironment(m_environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(path(u"bin/zelt-share"_s), arguments);
    }

    // The sheets' temporary directories that still exist.
    QStringList temporaryDirectories() const
    {
        return QDir(path(u"cache/app.zelt.ZeltShareExtension"_s))
            .entryList({u"ZeltShare-*"_s}, QDir::Dirs);
    }

    // The one stored share.
    QJsonObject storedShare() const
    {
        const QDir shares(m_service.service().sharesDirectory());
        const auto stored = shares.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        if (stored.size() != 1)
            return {};
        QFile record(shares.filePath(stored.first() + u"/share.json"_s));
        record.open(QIODevice::ReadOnly);
        return QJsonDocument::fromJson(record.readAll()).object();
    }

private:
    DevServiceFixture &m_service;
    QTemporaryDir m_prefix;
    QProcessEnvironment m_environment;
};

int countLines(const DevServiceFixture &service, const QString &start)
{
    int count = 0;
    for (const auto &line : service.logLines())
        count += line.startsWith(start);
    return count;
}

} // namespace

class TestShareProcess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A terminated share still removes its copies; the exit status names the signal.
    void terminationRemovesCopies_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void terminationRemovesCopies()
    {
        QFETCH(int, signalNumber);
        DevServiceFixture service;
        InstalledShare share(service);
        // Large enough that the share is still copying or uploading when the signal comes.
        QFile big(share.path(u"big.bin"_s));
        QVERIFY(big.open(QIODevice::WriteOnly));
        const QByteArray block(1 << 20, 'z');
        for (int i = 0; i < 256; ++i)
            big.write(block);
        big.close();

        QProcess process;
        share.start(process, {u"--headless"_s, big.fileName()});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!share.temporaryDirectories().isEmpty(), slow);
        ::kill(pid_t(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(slow));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + signalNumber);
        QCOMPARE(share.temporaryDirectories(), QStringList());
        QVERIFY(share.storedShare().isEmpty());
    }

    // The whole sheet in a real window: two files, a thread found through the picker's search,
    // Ctrl+Return, and the process ends once the service has the share.
    void windowSharesThroughThePicker()
    {
        const auto xvfb = QStandardPaths::findExecutable(u"Xvfb"_s);
        const auto xdotool = QStandardPaths::findExecutable(u"xdotool"_s);
        if (xvfb.isEmpty() || xdotool.isEmpty())
            QSKIP("needs Xvfb and xdotool (scripts/install-deps installs them)");

        QProcess server;
        server.start(xvfb, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"1024x768x24"_s,
                            u"-nolisten"_s, u"tcp"_s});
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), slow);
        const QString display = u":"_s + QString::fromLatin1(server.readLine().trimmed());
        const auto stopServer = qScopeGuard([&server] {
            server.terminate();
            server.waitForFinished();
        });

        DevServiceFixture service;
        InstalledShare share(service);
        auto &environment = share.environment();
        environment.insert(u"DISPLAY"_s, display);
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        // The leak check at exit cannot stop the threads of an X11 Qt Quick process (its tracer
        // crashes); the sheet's leaks are checked by the suites that run it in process.
        environment.insert(u"ASAN_OPTIONS"_s,
                           environment.value(u"ASAN_OPTIONS"_s) + u":detect_leaks=0"_s);
        QFile notes(share.path(u"notes.txt"_s));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("meeting notes\n");
        notes.close();
        QImage picture(320, 200, QImage::Format_RGB32);
        picture.fill(QColor(0x35, 0x84, 0xe4));
        QVERIFY(picture.save(share.path(u"picture.png"_s)));

        QProcess sheet;
        share.start(sheet, {notes.fileName(), share.path(u"picture.png"_s)});
        QVERIFY(sheet.waitForStarted());
        const auto stopSheet = qScopeGuard([&sheet] {
            qInfo("zelt-share said:\n%s", sheet.readAll().constData());
            if (sheet.state() != QProcess::NotRunning) {
                sheet.kill();
                sheet.waitForFinished();
            }
        });

        QProcessEnvironment tools;
        tools.insert(u"DISPLAY"_s, display);
        const auto run = [&](const QStringList &arguments) {
            QProcess tool;
            tool.setProcessEnvironment(tools);
            tool.start(xdotool, arguments);
            tool.waitForFinished(slow);
            return QString::fromLatin1(tool.readAllStandardOutput()).trimmed();
        };
        QString window;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(window = run({u"search"_s, u"--name"_s, u"^Send to Zelt$"_s})).isEmpty(), slow);
        window = window.split(u'\n').last();
        const auto destinations = u"GET /api/tovi/native-share/destinations"_s;
        QTRY_VERIFY_WITH_TIMEOUT(countLines(service, destinations) == 1, slow);
        QTest::qWait(1500);

        // The destination row opens the picker; the search finds one thread, which Down and
        // Return choose.
        run({u"windowfocus"_s, window});
        // The pauses give the views time to follow, also under the sanitizers.
        run({u"mousemove"_s, u"--window"_s, window, u"200"_s, u"65"_s, u"click"_s, u"1"_s});
        QTest::qWait(1500);
        run({u"type"_s, u"--delay"_s, u"30"_s, u"Passkey"_s});
        QTRY_VERIFY_WITH_TIMEOUT(countLines(service, destinations) >= 2, slow);
        QTest::qWait(2000);
        run({u"key"_s, u"Down"_s, u"Return"_s});
        QTest::qWait(1500);
        // Sends once everything is loaded; pressing again while sending does nothing.
        for (int i = 0; i < 30 && sheet.state() == QProcess::Running &&
                        countLines(service, u"POST /api/tovi/native-share "_s) == 0;
             ++i) {
            run({u"key"_s, u"ctrl+Return"_s});
            QTest::qWait(1000);
        }
        QVERIFY(sheet.waitForFinished(slow));
        QCOMPARE(sheet.exitCode(), 0);

        const auto stored = share.storedShare();
        QCOMPARE(stored.value("destination"_L1)
                     .toObject()
                     .value("thread"_L1)
                     .toObject()
                     .value("_0"_L1)
                     .toObject()
                     .value("id"_L1)
                     .toString(),
                 u"58e7d1c6-a9b0-4f32-8c5d-2b1a0f9e7d08"_s);
        QCOMPARE(stored.value("files"_L1).toArray().size(), 2);
        QCOMPARE(share.temporaryDirectories(), QStringList());
    }
};

QTEST_MAIN(TestShareProcess)
#include "tst_shareprocess.moc"
