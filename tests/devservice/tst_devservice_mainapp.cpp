#include "DevServiceFixture.h"
#include "SessionCommand.h"
#include "service/AppIdentifiers.h"
#include "service/BundleConfiguration.h"
#include "service/SessionKeychain.h"
#include "service/SharedSessionStore.h"
#include "service/SharedStateNotifier.h"
#include "service/UserDefaults.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

QString program()
{
    return QCoreApplication::applicationDirPath() + u"/zelt-devservice"_s;
}

Run run(const QStringList &arguments)
{
    QProcess process;
    process.start(program(), arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// Reads the process's output until a line holds needle, for at most ten seconds.
bool waitForLine(QProcess &process, QString &seen, const QString &needle)
{
    QDeadlineTimer deadline(10000);
    while (!seen.contains(needle)) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 200)));
        seen += QString::fromUtf8(process.readAllStandardOutput());
    }
    return true;
}

} // namespace

// The main application's side: the keychain item as the main application writes it, the
// sign-in against a running service, and the stand-in that watches the session bus.
class TestMainApplication : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The commands run as child processes; they and this test find the keychain file
        // store and the defaults suite under these directories.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u"data"_s)));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u"config"_s)));
        QVERIFY(QFile::exists(program()));
    }

    void session_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("file") << u"file"_s;
        QTest::newRow("secret-service") << u"secret-service"_s;
    }

    // What `session write` stores is what zelt-share reads, under the fingerprint that its
    // compare-and-replace expects.
    void session()
    {
        QFETCH(QString, backend);
        if (backend == u"secret-service"_s &&
            qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs the session bus with a keyring (run through ctest)");
        const auto bundle = writeBundle(backend);
        const auto configuration = BundleConfiguration::load(bundle);

        const auto written = run({u"session"_s, u"write"_s, u"--bundle"_s, bundle, u"--origin"_s,
                                  u"https://localhost:8443"_s, u"--cookie"_s, u"sid=s3cr3t-value"_s,
                                  u"--additional"_s, u"a=1"_s, u"--additional"_s, u"b=2"_s,
                                  u"--store-id"_s, u"store-7"_s, u"--user-id"_s, u"user-9"_s});
        QCOMPARE(written.exitCode, 0);

        NativeSharedSession expected;
        expected.baseOrigin = u"https://localhost:8443"_s;
        expected.cookieName = u"sid"_s;
        expected.cookieValue = u"s3cr3t-value"_s;
        expected.additionalCookies =
            QList<NativeSharedSessionCookie>{{u"a"_s, u"1"_s}, {u"b"_s, u"2"_s}};
        expected.storeID = u"store-7"_s;
        expected.userID = u"user-9"_s;
        SharedSessionStore store(SessionKeychain::create(configuration));
        QCOMPARE(store.loadSession(QUrl(u"https://localhost:8443"_s)), expected);
        auto rotated = expected;
        rotated.cookieValue = u"next-value"_s;
        store.storeRotatedSession(expected, rotated);
        QCOMPARE(store.loadStoredSession(), rotated);

        const auto shown = run({u"session"_s, u"show"_s, u"--bundle"_s, bundle});
        QCOMPARE(shown.exitCode, 0);
        QVERIFY(shown.out.contains(u"https://localhost:8443"_s));
        QVERIFY(shown.out.contains(QString::fromLatin1(rotated.fingerprint().toHex())));
        QVERIFY(!shown.out.contains(u"next-value"_s));
        QVERIFY(run({u"session"_s, u"show"_s, u"--json"_s, u"--bundle"_s, bundle})
                    .out.contains(u"next-value"_s));

        QCOMPARE(run({u"session"_s, u"delete"_s, u"--bundle"_s, bundle}).exitCode, 0);
        QVERIFY(!store.loadStoredSession());
        QCOMPARE(run({u"session"_s, u"show"_s, u"--bundle"_s, bundle}).exitCode, 1);
    }

    void sessionWriteRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("withAccessGroup");
        QTest::addColumn<int>("exitCode");
        const QStringList origin{u"--origin"_s, u"https://localhost:8443"_s};
        QTest::newRow("cookie without a value")
            << origin + QStringList{u"--cookie"_s, u"sid"_s} << true << 2;
        QTest::newRow("cookie without a name")
            << origin + QStringList{u"--cookie"_s, u"=v"_s} << true << 2;
        QTest::newRow("value that would end the header")
            << origin + QStringList{u"--cookie"_s, u"sid=a; admin=1"_s} << true << 2;
        QTest::newRow("origin that is no URL")
            << QStringList{u"--origin"_s, u"localhost"_s, u"--cookie"_s, u"sid=v"_s} << true << 2;
        QTest::newRow("no cookie") << origin << true << 2;
        QTest::newRow("no access group")
            << origin + QStringList{u"--cookie"_s, u"sid=v"_s} << false << 1;
    }

    void sessionWriteRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, withAccessGroup);
        QFETCH(int, exitCode);
        const auto bundle = writeBundle(u"file"_s, withAccessGroup);
        const auto result =
            run(QStringList{u"session"_s, u"write"_s, u"--bundle"_s, bundle} + arguments);
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY(!result.err.isEmpty());
        SharedSessionStore store(SessionKeychain::create(BundleConfiguration::load(bundle)));
        QVERIFY(!store.loadStoredSession());
    }

    // signin leaves a session that the service accepts and a software passkey that opens a
    // sudo session; a second sign-in keeps the passkey.
    void signIn()
    {
        DevServiceOptions options;
        options.requirePasskey = true;
        DevServiceFixture fixture(options);
        const auto bundle = writeBundle(u"file"_s);
        const QStringList arguments{u"signin"_s, u"--origin"_s,           fixture.origin(),
                                    u"--data"_s, fixture.dataDirectory(), u"--user"_s,
                                    u"alice"_s,  u"--bundle"_s,           bundle};
        const auto first = run(arguments);
        QVERIFY2(first.exitCode == 0, qPrintable(first.err));

        SharedSessionStore store(SessionKeychain::create(BundleConfiguration::load(bundle)));
        const auto session = store.loadSession(QUrl(fixture.origin()));
        QVERIFY(session);
        QCOMPARE(session->cookieName, u"zelt_session"_s);
        QCOMPARE(session->userID, u"user-alice"_s);
        QCOMPARE(session->additionalCookies.value_or(QList<NativeSharedSessionCookie>()).size(), 1);
        const auto cookie = session->cookieValue.toLatin1();
        QCOMPARE(fixture.call("GET", u"/api/tovi/native-share/destinations"_s, cookie).status, 200);

        const auto authenticatorFile = fixture.dataDirectory() + u"/authenticator.json"_s;
        QCOMPARE(QFile::permissions(authenticatorFile) & (QFile::ReadGroup | QFile::ReadOther), 0);
        auto authenticator = SoftwareAuthenticator::load(authenticatorFile);
        QVERIFY(authenticator);
        const QJsonObject share{{u"message"_s, u"hi"_s},
                                {u"shareID"_s, QUuid::createUuid().toString(QUuid::WithoutBraces)}};
        QCOMPARE(fixture.call("POST", u"/api/tovi/native-share"_s, cookie, share).status, 403);
        fixture.openSudo(cookie, *authenticator);
        QCOMPARE(fixture.call("POST", u"/api/tovi/native-share"_s, cookie, share).status, 200);
        // The counter went to the file with the assertion.
        QCOMPARE(SoftwareAuthenticator::load(authenticatorFile)->signCount(), 1u);

        QCOMPARE(run(arguments).exitCode, 0);
        const auto second = store.loadStoredSession();
        QVERIFY(second && second->cookieValue != session->cookieValue);
        QCOMPARE(SoftwareAuthenticator::load(authenticatorFile)->credentialId(),
                 authenticator->credentialId());
    }

    void signInRefused()
    {
        DevServiceFixture fixture;
        const auto bundle = writeBundle(u"file"_s);
        const auto badUser =
            run({u"signin"_s, u"--origin"_s, fixture.origin(), u"--data"_s, fixture.dataDirectory(),
                 u"--user"_s, u"Not A Name"_s, u"--bundle"_s, bundle});
        QCOMPARE(badUser.exitCode, 1);
        QVERIFY(badUser.err.contains(u"400"_s));
        // A CA that is not the service's: the TLS check fails and nothing is stored.
        QTemporaryDir stranger;
        DevServiceOptions other;
        other.dataDirectory = stranger.path();
        other.port = 0;
        {
            DevService service(other);
        }
        const auto untrusted = run({u"signin"_s, u"--origin"_s, fixture.origin(), u"--data"_s,
                                    stranger.path(), u"--bundle"_s, bundle});
        QCOMPARE(untrusted.exitCode, 1);
        SharedSessionStore store(SessionKeychain::create(BundleConfiguration::load(bundle)));
        QVERIFY(!store.loadStoredSession());
    }

    // The stand-in owns app.zelt.Zelt and reports the signal, the suite's hand-off timestamp,
    // the session item and the controls' calls.
    void watch()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs the session bus (run through ctest)");
        const auto bundle = writeBundle(u"file"_s);
        const auto configuration = BundleConfiguration::load(bundle);
        QProcess watcher;
        watcher.start(program(), {u"watch"_s, u"--bundle"_s, bundle});
        QVERIFY(watcher.waitForStarted(10000));
        const auto stop = qScopeGuard([&watcher] {
            watcher.terminate();
            watcher.waitForFinished(10000);
        });
        QString seen;
        QVERIFY2(waitForLine(watcher, seen, u"session item: none"_s), qPrintable(seen));
        QVERIFY(seen.contains(u"passkey hand-off: none requested"_s));

        NativeSharedSession session;
        session.baseOrigin = u"https://localhost:8443"_s;
        session.cookieName = u"zelt_session"_s;
        session.cookieValue = u"never-printed"_s;
        QVERIFY(SessionCommand::write(configuration, session));
        const auto suite = UserDefaults::shared(configuration);
        suite->setValue(AppIdentifiers::passkeyRequestedAtKey, 1733000000.25);
        suite->sync();
        QVERIFY(SharedStateNotifier::post());
        QVERIFY2(waitForLine(watcher, seen, u"passkey hand-off requested at 1733000000.250"_s),
                 qPrintable(seen));
        QVERIFY(seen.contains(u"shared-state Changed"_s));
        QVERIFY2(
            waitForLine(watcher, seen, QString::fromLatin1(session.fingerprint().toHex().left(16))),
            qPrintable(seen));

        auto call = QDBusMessage::createMethodCall(
            AppIdentifiers::mainApplicationIdentifier, u"/app/zelt/Zelt"_s,
            u"org.freedesktop.Application"_s, u"ActivateAction"_s);
        call << u"ZeltToviCallIntent"_s << QVariantList{}
             << QVariantMap{{u"activation-token"_s, u"t-1"_s}};
        const auto reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QVERIFY2(
            waitForLine(
                watcher, seen,
                uR"(ActivateAction "ZeltToviCallIntent" parameter=[] platform-data={"activation-token": "t-1"})"_s),
            qPrintable(seen));
        QVERIFY(!seen.contains(u"never-printed"_s));

        // A second stand-in cannot take the name.
        const auto second = run({u"watch"_s, u"--bundle"_s, bundle});
        QCOMPARE(second.exitCode, 1);
        QVERIFY(second.err.contains(AppIdentifiers::mainApplicationIdentifier));
    }

private:
    // A bundle configuration of its own per case, so cases never share a keychain item.
    QString writeBundle(const QString &backend, bool withAccessGroup = true)
    {
        const auto group =
            u"app.zelt.devtest.%1.%2"_s.arg(QCoreApplication::applicationPid()).arg(++m_case);
        QJsonObject bundle{{u"ZeltKeychainBackend"_s, backend},
                           {u"ZeltAppGroupIdentifier"_s, group}};
        if (withAccessGroup)
            bundle.insert(u"ZeltKeychainAccessGroup"_s, group);
        const auto path = m_home.filePath(group + u".json"_s);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(QJsonDocument(bundle).toJson());
        return path;
    }

    QTemporaryDir m_home;
    int m_case = 0;
};

QTEST_GUILESS_MAIN(TestMainApplication)
#include "tst_devservice_mainapp.moc"
