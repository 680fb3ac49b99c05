// zelt-controls against a stand-in Zelt application: on the shared test session bus for the
// presses, on buses of its own for a missing application and for bus activation.

#include "ZeltControls.h"
#include "ZeltControlsDesktopEntry.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString controlsProgram = QStringLiteral(ZELT_CONTROLS_PROGRAM);
const QString standInProgram = QStringLiteral(ZELT_STANDIN_PROGRAM);
const QString installedControlsProgram = QStringLiteral(ZELT_CONTROLS_INSTALLED_PROGRAM);

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runControls(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(controlsProgram, arguments);
    if (!process.waitForFinished(120 * 1000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// The launcher's environment without any activation token of the test runner's own.
QProcessEnvironment cleanEnvironment()
{
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"XDG_ACTIVATION_TOKEN"_s);
    environment.remove(u"DESKTOP_STARTUP_ID"_s);
    return environment;
}

QList<QJsonObject> readRecords(const QString &path)
{
    QList<QJsonObject> records;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return records;
    for (const auto &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            records.append(QJsonDocument::fromJson(line).object());
    }
    return records;
}

QStringList actionsOf(const QList<QJsonObject> &records)
{
    QStringList actions;
    for (const auto &record : records) {
        if (record.value("method"_L1).toString() == "ActivateAction"_L1)
            actions.append(record.value("action"_L1).toString());
        else
            actions.append(u"<"_s + record.value("method"_L1).toString() + u">"_s);
    }
    return actions;
}

// The configuration of PrivateBus: %1 its directory, %2 its service directory.
constexpr const char *busConfiguration =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig>\n"
    "  <type>session</type>\n"
    "  <listen>unix:path=%1/bus</listen>\n"
    "  <servicedir>%2</servicedir>\n"
    "  <auth>EXTERNAL</auth>\n"
    "  <policy context=\"default\">\n"
    "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
    "    <allow eavesdrop=\"true\"/>\n"
    "    <allow own=\"*\"/>\n"
    "  </policy>\n"
    "</busconfig>\n";

// A session bus of the test's own, with its own service directory, for what the shared bus must
// not show: no application at all, or an application the bus starts.
class PrivateBus
{
public:
    explicit PrivateBus(const QString &activatedExec = {})
    {
        QVERIFY(m_dir.isValid());
        const QString services = m_dir.filePath(u"services"_s);
        QVERIFY(QDir().mkpath(services));
        if (!activatedExec.isEmpty()) {
            QFile service(services + u"/app.zelt.Zelt.service"_s);
            QVERIFY(service.open(QIODevice::WriteOnly));
            service.write("[D-BUS Service]\nName=app.zelt.Zelt\nExec=" + activatedExec.toUtf8() +
                          "\n");
        }
        QFile config(m_dir.filePath(u"bus.conf"_s));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QString::fromLatin1(busConfiguration).arg(m_dir.path(), services).toUtf8());
        config.close();

        m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
        m_daemon.start(u"dbus-daemon"_s, {u"--config-file="_s + config.fileName(), u"--nofork"_s,
                                          u"--print-address=1"_s});
        QVERIFY2(m_daemon.waitForStarted(), "dbus-daemon did not start");
        while (!m_daemon.canReadLine())
            QVERIFY2(m_daemon.waitForReadyRead(30 * 1000), "dbus-daemon printed no address");
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }

    ~PrivateBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    QString address() const { return m_address; }
    QString path(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

// The desktop entry as groups of keys, in file order.
QList<std::pair<QString, QMap<QString, QString>>> readEntry(const QString &path)
{
    QList<std::pair<QString, QMap<QString, QString>>> groups;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return groups;
    for (const auto &rawLine : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            groups.append({line.mid(1, line.size() - 2), {}});
            continue;
        }
        const auto equals = line.indexOf(u'=');
        if (equals > 0 && !groups.isEmpty())
            groups.last().second.insert(line.left(equals), line.mid(equals + 1));
    }
    return groups;
}

// The contract with the system and the main application, written out independently of the
// program's table.
struct ExpectedControl
{
    QString kind;
    QString intentType;
    QString displayName;
    QString icon;
};

const QList<ExpectedControl> expectedControls{
    {u"NewThread"_s, u"NewThreadControlIntent"_s, u"New Thread"_s, u"document-edit-symbolic"_s},
    {u"DictateNewThread"_s, u"DictateNewThreadControlIntent"_s, u"Dictate New Thread"_s,
     u"audio-input-microphone-symbolic"_s},
    {u"OpenTovi"_s, u"OpenToviControlIntent"_s, u"Open Tovi"_s, u"app.zelt.ZeltToviFace"_s},
    {u"DictateToTovi"_s, u"DictateToToviControlIntent"_s, u"Dictate to Tovi"_s,
     u"audio-x-generic-symbolic"_s},
    {u"CallTovi"_s, u"CallToviControlIntent"_s, u"Call Tovi"_s, u"app.zelt.ZeltCallTovi"_s},
};

} // namespace

class TestZeltControls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void eachControlReachesTheApplicationOnceInOrder();
    void pressingTwiceReachesItTwice();
    void openActivatesTheApplication();
    void activationToken_data();
    void activationToken();
    void usageErrors_data();
    void usageErrors();
    void listPrintsTheControlsInOrder();
    void noApplicationOnTheBus();
    void noSessionBus();
    void notificationWithoutTheApplication();
    void busActivationStartsTheApplication();

    void desktopEntryOffersEachControl();
    void execValueQuoting_data();
    void execValueQuoting();
    void iconsDrawTheFaceInsideTheirBox_data();
    void iconsDrawTheFaceInsideTheirBox();

private:
    QTemporaryDir m_dir;
    QString m_record;
    std::unique_ptr<QProcess> m_standIn;
};

void TestZeltControls::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"),
             "runs on the test session bus");
    QVERIFY(m_dir.isValid());
    m_record = m_dir.filePath(u"record.jsonl"_s);
    m_standIn = std::make_unique<QProcess>();
    m_standIn->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_standIn->start(standInProgram, {m_record});
    QVERIFY(m_standIn->waitForStarted());
    while (!m_standIn->canReadLine())
        QVERIFY2(m_standIn->waitForReadyRead(30 * 1000), "the stand-in did not take its name");
    QCOMPARE(m_standIn->readLine().trimmed(), QByteArray("ready"));
}

void TestZeltControls::cleanupTestCase()
{
    if (m_standIn) {
        m_standIn->terminate();
        m_standIn->waitForFinished();
    }
}

void TestZeltControls::init()
{
    QFile::remove(m_record);
}

void TestZeltControls::eachControlReachesTheApplicationOnceInOrder()
{
    QStringList expected;
    for (const auto &control : expectedControls) {
        const Run run = runControls({u"run"_s, control.kind}, cleanEnvironment());
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        expected.append(control.intentType);
        // The call returns once the application has taken it, so the record is complete.
        QCOMPARE(actionsOf(readRecords(m_record)), expected);
    }
    for (const auto &record : readRecords(m_record))
        QCOMPARE(record.value("parameters"_L1).toInt(), 0);
}

void TestZeltControls::pressingTwiceReachesItTwice()
{
    for (int press = 0; press < 2; ++press)
        QCOMPARE(runControls({u"run"_s, u"CallTovi"_s}, cleanEnvironment()).exitCode, 0);
    QCOMPARE(actionsOf(readRecords(m_record)),
             QStringList({u"CallToviControlIntent"_s, u"CallToviControlIntent"_s}));
}

void TestZeltControls::openActivatesTheApplication()
{
    QCOMPARE(runControls({u"open"_s}, cleanEnvironment()).exitCode, 0);
    QCOMPARE(actionsOf(readRecords(m_record)), QStringList({u"<Activate>"_s}));
}

void TestZeltControls::activationToken_data()
{
    QTest::addColumn<QString>("activationToken");
    QTest::addColumn<QString>("startupID");
    QTest::addColumn<QVariantMap>("platformData");

    QTest::newRow("no token") << QString() << QString() << QVariantMap();
    QTest::newRow("wayland token") << u"wl-123"_s << QString()
                                   << QVariantMap{{u"activation-token"_s, u"wl-123"_s},
                                                  {u"desktop-startup-id"_s, u"wl-123"_s}};
    QTest::newRow("x11 startup id") << QString() << u"x11-456_TIME789"_s
                                    << QVariantMap{{u"activation-token"_s, u"x11-456_TIME789"_s},
                                                   {u"desktop-startup-id"_s, u"x11-456_TIME789"_s}};
    QTest::newRow("both") << u"wl-1"_s << u"x11-2"_s
                          << QVariantMap{{u"activation-token"_s, u"wl-1"_s},
                                         {u"desktop-startup-id"_s, u"x11-2"_s}};
}

void TestZeltControls::activationToken()
{
    QFETCH(QString, activationToken);
    QFETCH(QString, startupID);
    QFETCH(QVariantMap, platformData);

    auto environment = cleanEnvironment();
    if (!activationToken.isEmpty())
        environment.insert(u"XDG_ACTIVATION_TOKEN"_s, activationToken);
    if (!startupID.isEmpty())
        environment.insert(u"DESKTOP_STARTUP_ID"_s, startupID);
    QCOMPARE(runControls({u"run"_s, u"OpenTovi"_s}, environment).exitCode, 0);

    const auto records = readRecords(m_record);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].value("platformData"_L1).toObject().toVariantMap(), platformData);
}

void TestZeltControls::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("no command") << QStringList();
    QTest::newRow("unknown kind") << QStringList{u"run"_s, u"Dance"_s};
    QTest::newRow("kind in other case") << QStringList{u"run"_s, u"newthread"_s};
    QTest::newRow("intent name as kind") << QStringList{u"run"_s, u"NewThreadControlIntent"_s};
    QTest::newRow("run without kind") << QStringList{u"run"_s};
    QTest::newRow("two kinds") << QStringList{u"run"_s, u"NewThread"_s, u"CallTovi"_s};
    QTest::newRow("unknown command") << QStringList{u"press"_s, u"NewThread"_s};
}

void TestZeltControls::usageErrors()
{
    QFETCH(QStringList, arguments);
    const Run run = runControls(arguments, cleanEnvironment());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.count(u'\n') == 1, qPrintable(run.err));
    QVERIFY2(run.err.contains("usage: zelt-controls"_L1), qPrintable(run.err));
    QVERIFY(readRecords(m_record).isEmpty());
}

void TestZeltControls::listPrintsTheControlsInOrder()
{
    const Run run = runControls({u"list"_s}, cleanEnvironment());
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.out.trimmed().split(u'\n');
    QCOMPARE(lines.size(), expectedControls.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringList columns = lines[i].split(u'\t');
        QCOMPARE(columns.size(), 5);
        QCOMPARE(columns[0], expectedControls[i].kind);
        QCOMPARE(columns[1], expectedControls[i].displayName);
        QCOMPARE(columns[2], expectedControls[i].intentType);
    }
    QVERIFY(readRecords(m_record).isEmpty());
}

void TestZeltControls::noApplicationOnTheBus()
{
    PrivateBus bus;
    if (QTest::currentTestFailed())
        return;
    auto environment = cleanEnvironment();
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
    const Run run = runControls({u"run"_s, u"NewThread"_s}, environment);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.count(u'\n') == 1, qPrintable(run.err));
    QVERIFY2(run.err.contains("not installed"_L1), qPrintable(run.err));
}

// Started from a launcher, a control that cannot reach Zelt says so in a notification of the
// desktop: the real notification daemon on the test's own bus, under Xvfb, watched from the bus.
void TestZeltControls::notificationWithoutTheApplication()
{
    const QString daemon = u"/usr/lib/notification-daemon/notification-daemon"_s;
    const QString xvfb = QStandardPaths::findExecutable(u"Xvfb"_s);
    if (!QFileInfo::exists(daemon) || xvfb.isEmpty())
        QSKIP("needs Xvfb and notification-daemon (scripts/install-deps installs them)");
    QProcess display;
    display.start(xvfb, {u"-displayfd"_s, u"1"_s, u"-nolisten"_s, u"tcp"_s, u"-noreset"_s});
    QVERIFY(display.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(display.canReadLine(), 30000);
    const QString displayName = u":"_s + QString::fromLatin1(display.readLine().trimmed());
    PrivateBus bus;
    if (QTest::currentTestFailed())
        return;
    auto environment = cleanEnvironment();
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
    environment.insert(u"DISPLAY"_s, displayName);

    QProcess monitor;
    monitor.setProcessEnvironment(environment);
    monitor.start(u"dbus-monitor"_s,
                  {u"--address"_s, bus.address(), u"interface='org.freedesktop.Notifications'"_s,
                   u"type='method_return'"_s});
    QProcess notifications;
    notifications.setProcessEnvironment(environment);
    notifications.start(daemon, QStringList());
    const auto stop = qScopeGuard([&] {
        for (auto *process : {&notifications, &monitor, &display}) {
            process->terminate();
            process->waitForFinished();
        }
    });
    QVERIFY(monitor.waitForStarted() && notifications.waitForStarted());
    QProcess owner;
    const auto owned = [&] {
        owner.setProcessEnvironment(environment);
        owner.start(u"dbus-send"_s,
                    {u"--session"_s, u"--print-reply"_s, u"--dest=org.freedesktop.DBus"_s,
                     u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus.NameHasOwner"_s,
                     u"string:org.freedesktop.Notifications"_s});
        owner.waitForFinished();
        return owner.readAllStandardOutput().contains("boolean true");
    };
    QTRY_VERIFY_WITH_TIMEOUT(owned(), 30000);

    const Run run = runControls({u"run"_s, u"OpenTovi"_s}, environment);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.count(u'\n') == 1, qPrintable(run.err));
    // The call, and the daemon's answer to it: the id of the notification it shows.
    QByteArray seen;
    const auto answered = [&] {
        seen += monitor.readAllStandardOutput();
        const auto call = seen.indexOf("member=Notify");
        return call >= 0 && seen.indexOf("uint32", call) > call;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(answered(), seen.constData(), 30000);
    QVERIFY2(seen.contains("string \"Zelt is not installed\""), seen.constData());
    QVERIFY2(seen.contains("is not installed on this session bus"), seen.constData());
    QVERIFY2(seen.contains("app.zelt.ZeltControls"), seen.constData());
}

void TestZeltControls::noSessionBus()
{
    QTemporaryDir nowhere;
    auto environment = cleanEnvironment();
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + nowhere.filePath(u"bus"_s));
    environment.remove(u"DISPLAY"_s);
    const Run run = runControls({u"run"_s, u"DictateToTovi"_s}, environment);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.count(u'\n') == 1, qPrintable(run.err));
    QVERIFY2(run.err.contains("no D-Bus session bus"_L1), qPrintable(run.err));
}

void TestZeltControls::busActivationStartsTheApplication()
{
    QTemporaryDir dir;
    const QString record = dir.filePath(u"activated.jsonl"_s);
    PrivateBus bus(standInProgram + u' ' + record + u" --once"_s);
    if (QTest::currentTestFailed())
        return;
    auto environment = cleanEnvironment();
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
    const Run run = runControls({u"run"_s, u"DictateNewThread"_s}, environment);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(actionsOf(readRecords(record)), QStringList{u"DictateNewThreadControlIntent"_s});
}

void TestZeltControls::desktopEntryOffersEachControl()
{
    const auto groups = readEntry(QStringLiteral(ZELT_CONTROLS_DESKTOP_ENTRY));
    QCOMPARE(groups.size(), 1 + expectedControls.size());
    const auto &main = groups[0];
    QCOMPARE(main.first, u"Desktop Entry"_s);
    QCOMPARE(main.second.value(u"Type"_s), u"Application"_s);
    // Launchers only offer the actions of an entry they show.
    QVERIFY(!main.second.contains(u"NoDisplay"_s));
    QCOMPARE(main.second.value(u"Exec"_s), installedControlsProgram + u" open"_s);

    QStringList kinds;
    for (const auto &control : expectedControls)
        kinds.append(control.kind);
    QCOMPARE(main.second.value(u"Actions"_s), kinds.join(u';') + u';');

    for (qsizetype i = 0; i < expectedControls.size(); ++i) {
        const auto &control = expectedControls[i];
        const auto &[group, keys] = groups[i + 1];
        QCOMPARE(group, u"Desktop Action "_s + control.kind);
        QCOMPARE(keys.value(u"Name"_s), control.displayName);
        QCOMPARE(keys.value(u"Icon"_s), control.icon);
        QCOMPARE(keys.value(u"Exec"_s), installedControlsProgram + u" run "_s + control.kind);
    }
}

void TestZeltControls::execValueQuoting_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("exec");

    QTest::newRow("plain") << QStringList{u"/usr/bin/zelt-controls"_s, u"run"_s, u"OpenTovi"_s}
                           << u"/usr/bin/zelt-controls run OpenTovi"_s;
    QTest::newRow("space") << QStringList{u"/opt/Zelt Apps/bin/zelt-controls"_s, u"open"_s}
                           << u"\"/opt/Zelt Apps/bin/zelt-controls\" open"_s;
    // Quoted "$" gets a backslash, which the string value doubles.
    QTest::newRow("dollar") << QStringList{u"/opt/$z/zelt-controls"_s}
                            << u"\"/opt/\\\\$z/zelt-controls\""_s;
    QTest::newRow("percent") << QStringList{u"/opt/100%/zelt-controls"_s}
                             << u"/opt/100%%/zelt-controls"_s;
}

void TestZeltControls::execValueQuoting()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, exec);
    QCOMPARE(ZeltControlsDesktopEntry::execValue(arguments), exec);
}

void TestZeltControls::iconsDrawTheFaceInsideTheirBox_data()
{
    QTest::addColumn<QString>("file");
    // Where the face's 24-point box lands in the icon's.
    QTest::addColumn<QTransform>("face");
    QTest::newRow("ZeltToviFace") << u"app.zelt.ZeltToviFace.svg"_s << QTransform();
    QTest::newRow("ZeltCallTovi") << u"app.zelt.ZeltCallTovi.svg"_s
                                  << QTransform::fromScale(0.85, 0.85) *
                                         QTransform::fromTranslate(0.6, 0.6);
}

void TestZeltControls::iconsDrawTheFaceInsideTheirBox()
{
    QFETCH(QString, file);
    QFETCH(QTransform, face);
    QSvgRenderer renderer(QStringLiteral(ZELT_CONTROLS_ICON_DIR) + u'/' + file);
    QVERIFY(renderer.isValid());
    QCOMPARE(renderer.viewBoxF(), QRectF(0, 0, 24, 24));

    constexpr int side = 96;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    image.save(QStringLiteral(ZELT_CONTROLS_REVIEW_DIR) + u'/' + file.chopped(4) + u".png"_s);
    const auto colorAt = [&](QPointF facePoint) {
        const QPointF p = face.map(facePoint) * (side / 24.0);
        return image.pixelColor(int(p.x()), int(p.y()));
    };

    // Round artwork: the corners stay clear.
    QCOMPARE(image.pixelColor(1, 1).alpha(), 0);
    QCOMPARE(image.pixelColor(side - 2, 1).alpha(), 0);
    // The classic face: olive skin, light sclera, dark pupils where the avatar icon has its eyes.
    const QColor skin = colorAt({12, 20.5});
    QVERIFY2(skin.alpha() == 255 && skin.green() > skin.blue() + 10 && skin.lightness() < 110,
             qPrintable(skin.name()));
    for (const double eyeX : {7.25, 16.75}) {
        const QColor sclera = colorAt({eyeX - 2.6, 10.25});
        QVERIFY2(sclera.lightness() > 180, qPrintable(sclera.name()));
        const QColor pupil = colorAt({eyeX + 0.4, 10.6});
        QVERIFY2(pupil.lightness() < 40, qPrintable(pupil.name()));
    }
}

QTEST_GUILESS_MAIN(TestZeltControls)
#include "tst_zeltcontrols.moc"
