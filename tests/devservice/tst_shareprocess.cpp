#include "DevServiceFixture.h"
#include "InstalledShare.h"
#include "VirtualDisplay.h"
#include "service/FileSessionKeychain.h"
#include "service/NativeSharedSession.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int slow = 60000;

// A session bus of the test's own on which nothing is started by activation (so no password
// prompt can ever appear), with a keyring daemon when asked: its login collection is created
// unlocked and can be locked.
class PrivateBus
{
public:
    explicit PrivateBus(bool keyring)
    {
        for (const auto &name : {u"runtime"_s, u"data"_s, u"home"_s})
            QDir().mkpath(m_dir.filePath(name));
        QFile::setPermissions(m_dir.filePath(u"runtime"_s),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile configuration(m_dir.filePath(u"bus.conf"_s));
        configuration.open(QIODevice::WriteOnly);
        configuration.write("<busconfig><type>session</type><listen>unix:path=" +
                            QFile::encodeName(m_dir.filePath(u"bus"_s)) +
                            "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                            "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                            "</busconfig>\n");
        configuration.close();
        m_bus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_bus.start(u"dbus-daemon"_s, {u"--config-file="_s + configuration.fileName(),
                                       u"--nofork"_s, u"--nopidfile"_s});
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, address());
        m_environment.insert(u"XDG_RUNTIME_DIR"_s, m_dir.filePath(u"runtime"_s));
        m_environment.insert(u"XDG_DATA_HOME"_s, m_dir.filePath(u"data"_s));
        m_environment.insert(u"HOME"_s, m_dir.filePath(u"home"_s));
        if (!m_bus.waitForStarted())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_dir.filePath(u"bus"_s)), slow);
        if (!keyring) {
            m_ready = true;
            return;
        }
        m_keyring.setProcessEnvironment(m_environment);
        // Its only complaints are about the prompts that cannot appear, which is the point.
        m_keyring.setStandardErrorFile(QProcess::nullDevice());
        m_keyring.start(u"gnome-keyring-daemon"_s,
                        {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
        if (!m_keyring.waitForStarted())
            return;
        m_keyring.write("zelt-test");
        m_keyring.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(
            send({u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus.NameHasOwner"_s,
                  u"string:org.freedesktop.secrets"_s},
                 u"org.freedesktop.DBus"_s)
                .contains("boolean true"),
            slow);
        m_ready = true;
    }

    ~PrivateBus()
    {
        for (auto *process : {&m_keyring, &m_bus}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                process->waitForFinished();
            }
        }
    }

    bool isReady() const { return m_ready; }
    QString address() const { return u"unix:path="_s + m_dir.filePath(u"bus"_s); }

    // Locks the login collection, as the desktop does when the screen locks.
    bool lockKeyring()
    {
        return send({u"/org/freedesktop/secrets"_s, u"org.freedesktop.Secret.Service.Lock"_s,
                     u"array:objpath:/org/freedesktop/secrets/collection/login"_s})
            .contains("collection/login");
    }

private:
    QByteArray send(const QStringList &call,
                    const QString &destination = u"org.freedesktop.secrets"_s)
    {
        QProcess tool;
        tool.setProcessEnvironment(m_environment);
        tool.start(u"dbus-send"_s,
                   QStringList{u"--session"_s, u"--print-reply"_s, u"--dest="_s + destination} +
                       call);
        tool.waitForFinished(slow);
        return tool.readAllStandardOutput();
    }

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_keyring;
    QProcessEnvironment m_environment;
    bool m_ready = false;
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
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    // The signal comes while the file is being copied in: the copy stops there, and the
    // process ends with the signal's status and nothing left behind.
    void terminationRemovesCopies()
    {
        QFETCH(int, signalNumber);
        DevServiceFixture service;
        InstalledShare share(service);
        // Large enough that the copy is still running when the signal comes.
        QFile big(share.path(u"big.bin"_s));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QByteArray block(1 << 20, 'z');
        for (int i = 0; i < 1024; ++i) {
            block[0] = char(i);
            big.write(block);
        }
        big.close();

        QProcess process;
        share.start(process, {u"--headless"_s, big.fileName()});
        QVERIFY(process.waitForStarted());
        const auto copying = [&share] {
            const auto directories = share.temporaryDirectories();
            if (directories.isEmpty())
                return false;
            QDirIterator files(share.path(u"cache/app.zelt.ZeltShareExtension/"_s) +
                                   directories.first(),
                               QDir::Files, QDirIterator::Subdirectories);
            return files.hasNext();
        };
        QTRY_VERIFY_WITH_TIMEOUT(copying() || process.state() == QProcess::NotRunning, slow);
        ::kill(pid_t(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(slow));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + signalNumber);
        QCOMPARE(share.temporaryDirectories(), QStringList());
        QVERIFY(share.storedShare().isEmpty());
    }

    // However the intake fails, the process ends with its one line and status 1: the
    // destinations request and the avatar download that were still in flight are ended
    // before the application goes (they crashed it now and then at exit).
    void failedIntakeEndsCleanly()
    {
        DevServiceFixture service;
        InstalledShare share(service);
        const QString empty = share.writeFile(u"empty.txt"_s, {});
        QDir().mkpath(share.path(u"folder"_s));
        const QList<std::pair<QString, QString>> cases{
            {share.path(u"missing.txt"_s), u"A shared file could not be loaded."_s},
            {empty, u"empty.txt is empty."_s},
            {share.path(u"folder"_s),
             u"Folders cannot be shared with Zelt. Share the files inside instead."_s},
        };
        for (int run = 0; run < 60; ++run) {
            const auto &[item, line] = cases.at(run % cases.size());
            // Without a cached avatar, so that its download is in flight too.
            QDir(share.path(u"cache/app.zelt.ZeltShareExtension/ToviAvatars"_s))
                .removeRecursively();
            QProcess process;
            share.start(process, {u"--headless"_s, u"--to"_s, u"tovi"_s, item},
                        QProcess::SeparateChannels);
            QVERIFY(process.waitForFinished(slow));
            const auto errors = QString::fromUtf8(process.readAllStandardError());
            QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 1,
                     qPrintable(
                         u"run %1: status %2, %3"_s.arg(run).arg(process.exitCode()).arg(errors)));
            QCOMPARE(errors, line + u'\n');
        }
        QCOMPARE(share.temporaryDirectories(), QStringList());
    }

    // What a terminal hands over: a file name that is not UTF-8, --to=DEST and --message=TEXT
    // in one argument each.
    void commandLineForms()
    {
        DevServiceFixture service;
        InstalledShare share(service);
        QProcess process;
        process.setProcessEnvironment(share.environment());
        process.setWorkingDirectory(share.path(QString()));
        process.setProcessChannelMode(QProcess::MergedChannels);
        // Written by its bytes: no QString names it.
        const QByteArray path = QFile::encodeName(share.path(QString())) + "/caf\xe9.txt";
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "notes\n", 6), ssize_t(6));
        ::close(fd);
        process.start(
            u"/bin/sh"_s,
            {u"-c"_s,
             u"exec \"$0\" --headless --to=tovi --message='Have a look' \"$(printf 'caf\\351.txt')\""_s,
             share.path(u"bin/zelt-share"_s)});
        QVERIFY(process.waitForFinished(slow));
        const auto output = QString::fromUtf8(process.readAll());
        QVERIFY2(process.exitCode() == 0, qPrintable(output));
        const auto stored = share.storedShare();
        QCOMPARE(stored.value("message"_L1).toString(), u"Have a look"_s);
        QCOMPARE(
            stored.value("files"_L1).toArray().first().toObject().value("filename"_L1).toString(),
            u"caf\ufffd.txt"_s);
    }

    // A list of destinations that cannot be written is no success.
    void listToFullOutput()
    {
        DevServiceFixture service;
        InstalledShare share(service);
        QProcess process;
        process.setStandardOutputFile(u"/dev/full"_s);
        share.start(process, {u"--headless"_s, u"--list-destinations"_s},
                    QProcess::SeparateChannels);
        QVERIFY(process.waitForFinished(slow));
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()),
                 u"The list of destinations could not be written.\n"_s);
    }

    // The keyring cannot give the session: no bus at all, a bus without a keyring, or a keyring
    // whose collection is locked (the unlock prompt cannot appear, so it is dismissed). The
    // share is signed out: one line, at once, and nothing left behind.
    void keyringUnavailable_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("no session bus") << u"no bus"_s;
        QTest::newRow("no keyring on the bus") << u"no keyring"_s;
        QTest::newRow("keyring locked") << u"locked"_s;
    }

    void keyringUnavailable()
    {
        QFETCH(QString, situation);
        DevServiceFixture service;
        std::optional<PrivateBus> bus;
        if (situation != u"no bus") {
            bus.emplace(situation == u"locked");
            QVERIFY(bus->isReady());
        }
        InstalledShare share(service, bus ? bus->address() : u"unix:path=/nonexistent"_s);
        const auto status = [&share] {
            QProcess process;
            share.start(process, {u"--status"_s});
            process.waitForFinished(slow);
            return QString::fromUtf8(process.readAll()).trimmed().split(u'\n').last();
        };
        if (situation == u"locked") {
            QCOMPARE(status(), u"Shared session: signed in"_s);
            QVERIFY(bus->lockKeyring());
        }
        QCOMPARE(status(), u"Shared session: unknown (the keyring is locked or unreachable)"_s);

        const auto notes = share.writeFile(u"notes.txt"_s, "meeting notes\n");
        QVERIFY(!notes.isEmpty());
        QProcess process;
        share.start(process, {u"--headless"_s, u"--to"_s, u"tovi"_s, notes});
        QVERIFY(process.waitForFinished(slow));
        const auto output = QString::fromUtf8(process.readAll());
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(output.trimmed().split(u'\n').last(),
                 u"The keyring is locked or unreachable. Unlock it, then share again."_s);
        QCOMPARE(share.temporaryDirectories(), QStringList());
        QVERIFY(share.storedShare().isEmpty());
        QCOMPARE(countLines(service, u"GET /api/tovi/native-share/destinations"_s), 0);
        QCOMPARE(QFileInfo(notes).size(), qint64(14));
    }

    // The keyring locks while a share runs, and every answer rotates the cookie: the rotated
    // session cannot be written back, which costs nothing, and the share is delivered.
    void keyringLockedWhileSharing()
    {
        PrivateBus bus(true);
        QVERIFY(bus.isReady());
        DevServiceOptions options;
        options.rotateEvery = 1;
        // Time to lock between the session being read and the first answer.
        options.latency = std::chrono::milliseconds(400);
        DevServiceFixture service(options);
        InstalledShare share(service, bus.address());
        const auto notes = share.writeFile(u"notes.txt"_s, "meeting notes\n");
        QVERIFY(!notes.isEmpty());

        QProcess process;
        share.start(process, {u"--headless"_s, u"--to"_s, u"tovi"_s, notes});
        // The copies are made after the session was read.
        QTRY_VERIFY_WITH_TIMEOUT(!share.temporaryDirectories().isEmpty() ||
                                     process.state() == QProcess::NotRunning,
                                 slow);
        QVERIFY(bus.lockKeyring());
        QVERIFY(process.waitForFinished(slow));
        const auto output = QString::fromUtf8(process.readAll());
        QVERIFY2(process.exitCode() == 0, qPrintable(output));
        QCOMPARE(share.storedShare().value("files"_L1).toArray().size(), 1);
        QCOMPARE(share.temporaryDirectories(), QStringList());
    }

    // A share by keyboard and screen reader alone: the sheet read through AT-SPI on a private
    // session bus with its accessibility bus, under Xvfb; tests/accessibility has the steps.
    void accessibleShareByKeyboard()
    {
        const QString launcher = u"/usr/libexec/at-spi-bus-launcher"_s;
        const QString python = u"/usr/bin/python3"_s;
        QProcess probe;
        probe.start(python, {u"-c"_s, u"import pyatspi"_s});
        if (!VirtualDisplay::toolsInstalled() || !QFileInfo::exists(launcher) ||
            !probe.waitForFinished(slow) || probe.exitCode() != 0)
            QSKIP("needs Xvfb, xdotool, at-spi2-core and python3-pyatspi (scripts/install-deps "
                  "installs them)");

        const VirtualDisplay screen;
        const QString display = screen.display();
        QVERIFY(!display.isEmpty());
        PrivateBus bus(false);
        QVERIFY(bus.isReady());
        // The accessibility bus, which the sheet finds through the session bus.
        QProcessEnvironment desktop = QProcessEnvironment::systemEnvironment();
        desktop.insert(u"DISPLAY"_s, display);
        desktop.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
        desktop.remove(u"WAYLAND_DISPLAY"_s);
        QProcess accessibility;
        accessibility.setProcessEnvironment(desktop);
        accessibility.start(launcher, {u"--launch-immediately"_s});
        QVERIFY(accessibility.waitForStarted());
        const auto stop = qScopeGuard([&accessibility] {
            accessibility.terminate();
            accessibility.waitForFinished();
        });

        DevServiceFixture service;
        InstalledShare share(service);
        auto &environment = share.environment();
        environment.insert(u"DISPLAY"_s, display);
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
        environment.insert(u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON"_s, u"1"_s);
        // As in the window test: Qt Quick's own cycles at exit.
        environment.insert(u"ASAN_OPTIONS"_s,
                           environment.value(u"ASAN_OPTIONS"_s) + u":detect_leaks=0"_s);
        const auto notes = share.writeFile(u"notes.txt"_s, "meeting notes\n");
        QVERIFY(!notes.isEmpty());

        QProcess sheet;
        share.start(sheet, {notes});
        QVERIFY(sheet.waitForStarted());
        const auto stopSheet = qScopeGuard([&sheet] {
            if (sheet.state() != QProcess::NotRunning) {
                sheet.kill();
                sheet.waitForFinished();
            }
        });

        // The first of the service's recent threads.
        const QString thread = u"Release checklist for 0.4"_s;
        const QString message = u"Notes from the meeting, by keyboard"_s;
        QProcess reader;
        reader.setProcessEnvironment(desktop);
        reader.setProcessChannelMode(QProcess::MergedChannels);
        reader.start(python,
                     {QFINDTESTDATA("../accessibility/share-by-keyboard.py"), thread, message});
        QVERIFY(reader.waitForFinished(4 * slow));
        const auto steps = QString::fromUtf8(reader.readAll());
        QVERIFY2(reader.exitCode() == 0, qPrintable(steps));

        QVERIFY(sheet.waitForFinished(slow));
        QCOMPARE(sheet.exitCode(), 0);
        const auto stored = share.storedShare();
        QCOMPARE(stored.value("message"_L1).toString(), message);
        QCOMPARE(stored.value("files"_L1).toArray().size(), 1);
        QVERIFY2(
            QJsonDocument(stored.value("destination"_L1).toObject()).toJson().contains("thread"),
            QJsonDocument(stored).toJson().constData());
    }

    void windowSharesThroughThePicker_data()
    {
        QTest::addColumn<VirtualDisplay::Platform>("platform");
        for (const auto platform :
             {VirtualDisplay::Platform::X11, VirtualDisplay::Platform::Wayland})
            QTest::newRow(VirtualDisplay::name(platform)) << platform;
    }

    // The whole sheet in a real window: two files, a thread found through the picker's search,
    // Ctrl+Return, and the process ends once the service has the share.
    void windowSharesThroughThePicker()
    {
        QFETCH(VirtualDisplay::Platform, platform);
        if (!VirtualDisplay::toolsInstalled(platform))
            QSKIP("needs Xvfb, xdotool and weston (scripts/install-deps installs them)");
        const VirtualDisplay screen(platform);
        QVERIFY(screen.isReady());

        DevServiceFixture service;
        InstalledShare share(service);
        auto &environment = share.environment();
        screen.addTo(environment);
        // Qt Quick's software renderer leaves each Image element's pixmap and texture in a cycle
        // when the window goes (as in the views' suite), and the library frames are too few for a
        // suppression to match; the sheet's own leaks are checked by the suites that run it in
        // process.
        environment.insert(u"ASAN_OPTIONS"_s,
                           environment.value(u"ASAN_OPTIONS"_s) + u":detect_leaks=0"_s);
        const auto notes = share.writeFile(u"notes.txt"_s, "meeting notes\n");
        QVERIFY(!notes.isEmpty());
        QImage picture(320, 200, QImage::Format_RGB32);
        picture.fill(QColor(0x35, 0x84, 0xe4));
        QVERIFY(picture.save(share.path(u"picture.png"_s)));

        QProcess sheet;
        share.start(sheet, {notes, share.path(u"picture.png"_s)});
        QVERIFY(sheet.waitForStarted());
        const auto stopSheet = qScopeGuard([&sheet] {
            qInfo("zelt-share said:\n%s", sheet.readAll().constData());
            if (sheet.state() != QProcess::NotRunning) {
                sheet.kill();
                sheet.waitForFinished();
            }
        });

        const auto window = screen.waitForSheet(slow);
        QVERIFY(window.process > 0);
        const auto destinations = u"GET /api/tovi/native-share/destinations"_s;
        QTRY_VERIFY_WITH_TIMEOUT(countLines(service, destinations) == 1, slow);
        QTest::qWait(1500);

        // The destination row opens the picker; the search finds one thread, which Down and
        // Return choose.
        if (platform == VirtualDisplay::Platform::X11)
            screen.xdotool({u"windowfocus"_s, window.window});
        // The pauses give the views time to follow, also under the sanitizers.
        screen.click(window, 200, 65);
        QTest::qWait(1500);
        screen.type(u"Passkey"_s);
        QTRY_VERIFY_WITH_TIMEOUT(countLines(service, destinations) >= 2, slow);
        QTest::qWait(2000);
        screen.key({u"Down"_s, u"Return"_s});
        QTest::qWait(1500);
        // Sends once everything is loaded; pressing again while sending does nothing.
        for (int i = 0; i < 30 && sheet.state() == QProcess::Running &&
                        countLines(service, u"POST /api/tovi/native-share "_s) == 0;
             ++i) {
            screen.key({u"ctrl+Return"_s});
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

    void windowOnEveryDisplay_data()
    {
        QTest::addColumn<VirtualDisplay::Platform>("platform");
        QTest::addColumn<QString>("screenshot");
        QTest::newRow("X11") << VirtualDisplay::Platform::X11 << u"x11"_s;
        QTest::newRow("Wayland") << VirtualDisplay::Platform::Wayland << u"wayland"_s;
        QTest::newRow("Wayland without a seat")
            << VirtualDisplay::Platform::WaylandWithoutSeat << u"wayland-without-seat"_s;
        QTest::newRow("Wayland with server-side decorations")
            << VirtualDisplay::Platform::WaylandServerDecorations
            << u"wayland-server-decorations"_s;
    }

    // The sheet as the user first sees it, on each display: it shows and stays up (Qt 6.4's
    // Wayland text input crashes on a compositor without a seat as the message field takes the
    // focus), with its title once, and on X11 with the launch it was started for named on its
    // window. The screenshots go to review/windows for a look.
    void windowOnEveryDisplay()
    {
        QFETCH(VirtualDisplay::Platform, platform);
        QFETCH(QString, screenshot);
        if (!VirtualDisplay::toolsInstalled(platform))
            QSKIP("needs Xvfb, xdotool and weston (scripts/install-deps installs them)");
        const VirtualDisplay screen(platform);
        QVERIFY(screen.isReady());

        DevServiceFixture service;
        InstalledShare share(service);
        auto &environment = share.environment();
        screen.addTo(environment);
        environment.insert(u"ASAN_OPTIONS"_s,
                           environment.value(u"ASAN_OPTIONS"_s) + u":detect_leaks=0"_s);
        environment.insert(u"DESKTOP_STARTUP_ID"_s, u"files-4242-host-zelt-share_TIME1234"_s);
        const auto notes = share.writeFile(u"notes.txt"_s, "meeting notes\n");
        QVERIFY(!notes.isEmpty());

        QProcess sheet;
        share.start(sheet, {notes});
        QVERIFY(sheet.waitForStarted());
        const auto stopSheet = qScopeGuard([&sheet] {
            qInfo("zelt-share said:\n%s", sheet.readAll().constData());
            if (sheet.state() != QProcess::NotRunning) {
                sheet.kill();
                sheet.waitForFinished();
            }
        });
        const auto window = screen.waitForSheet(slow);
        QVERIFY(window.process > 0);
        QTRY_VERIFY_WITH_TIMEOUT(
            countLines(service, u"GET /api/tovi/native-share/destinations"_s) == 1, slow);
        // The message field has the focus once the destinations are in.
        QTest::qWait(2000);
        QCOMPARE(sheet.state(), QProcess::Running);
        QVERIFY(screen.screenshot(QStringLiteral(ZELT_REVIEW_DIR) + u"/sheet-"_s + screenshot +
                                  u".png"_s));

        // Sway's own title bar, not one that Qt draws.
        if (platform == VirtualDisplay::Platform::WaylandServerDecorations)
            QCOMPARE(screen.windowOf(window).value("border"_L1).toString(), u"normal"_s);
        if (platform == VirtualDisplay::Platform::X11)
            QCOMPARE(screen.startupId(window),
                     u"_NET_STARTUP_ID(UTF8_STRING) = \"files-4242-host-zelt-share_TIME1234\""_s);
        if (platform == VirtualDisplay::Platform::WaylandWithoutSeat) {
            // Nothing can press a key there: it ends as it does when terminated.
            sheet.terminate();
            QVERIFY(sheet.waitForFinished(slow));
            QCOMPARE(sheet.exitStatus(), QProcess::NormalExit);
            QCOMPARE(sheet.exitCode(), 128 + SIGTERM);
        } else if (platform == VirtualDisplay::Platform::WaylandServerDecorations) {
            // The title bar's close button cancels.
            screen.closeWindow(window);
            QVERIFY(sheet.waitForFinished(slow));
            QCOMPARE(sheet.exitStatus(), QProcess::NormalExit);
            QCOMPARE(sheet.exitCode(), 0);
        } else {
            // Escape cancels.
            screen.click(window, 280, 560);
            screen.key({u"Escape"_s});
            QVERIFY(sheet.waitForFinished(slow));
            QCOMPARE(sheet.exitStatus(), QProcess::NormalExit);
            QCOMPARE(sheet.exitCode(), 0);
        }
        QCOMPARE(share.temporaryDirectories(), QStringList());
    }

    void activationBringsTheSheetForward_data()
    {
        QTest::addColumn<bool>("token");
        QTest::newRow("with the launcher's token") << true;
        QTest::newRow("without a token") << false;
    }

    // Another program's window has the focus, as the file manager's has when the user picks
    // "Send to Zelt", and the compositor gives a new sheet no focus by itself: the sheet comes to
    // the front with the token its launcher got from the compositor, and only with it.
    void activationBringsTheSheetForward()
    {
        QFETCH(bool, token);
        const auto platform = VirtualDisplay::Platform::WaylandServerDecorations;
        if (!VirtualDisplay::toolsInstalled(platform))
            QSKIP("needs sway, grim and weston (scripts/install-deps installs them)");
        VirtualDisplay screen(platform);
        QVERIFY(screen.isReady());
        QVERIFY(screen.showOtherWindow());

        DevServiceFixture service;
        InstalledShare share(service);
        auto &environment = share.environment();
        screen.addTo(environment);
        environment.insert(u"ASAN_OPTIONS"_s,
                           environment.value(u"ASAN_OPTIONS"_s) + u":detect_leaks=0"_s);
        if (token) {
            const QString issued = screen.activationToken();
            QVERIFY(!issued.isEmpty());
            environment.insert(u"XDG_ACTIVATION_TOKEN"_s, issued);
        }
        const auto notes = share.writeFile(u"notes.txt"_s, "meeting notes\n");
        QVERIFY(!notes.isEmpty());

        QProcess sheet;
        share.start(sheet, {notes});
        QVERIFY(sheet.waitForStarted());
        const auto stopSheet = qScopeGuard([&sheet] {
            if (sheet.state() != QProcess::NotRunning) {
                sheet.kill();
                sheet.waitForFinished();
            }
        });
        const auto window = screen.waitForSheet(slow);
        QVERIFY(window.process > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!screen.windowOf(window).isEmpty(), slow);
        if (token) {
            QTRY_VERIFY_WITH_TIMEOUT(screen.windowOf(window).value("focused"_L1).toBool(), slow);
        } else {
            // Past the first frame, when the sheet would have asked.
            QTRY_VERIFY_WITH_TIMEOUT(
                countLines(service, u"GET /api/tovi/native-share/destinations"_s) == 1, slow);
            QTest::qWait(1500);
            QVERIFY(!screen.windowOf(window).value("focused"_L1).toBool());
        }
        screen.closeWindow(window);
        QVERIFY(sheet.waitForFinished(slow));
        QCOMPARE(sheet.exitCode(), 0);
    }
};

QTEST_MAIN(TestShareProcess)
#include "tst_shareprocess.moc"
