#include "DevServiceFixture.h"
#include "HeadlessShare.h"
#include "host/ExtensionContext.h"
#include "service/FileSessionKeychain.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

// A whole share without a window, from command-line items to what the development service
// stored, through the intake, the uploads and the submission.
class TestHeadlessShare : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void shareReachesTheService()
    {
        DevServiceFixture service;
        QTemporaryDir work;
        const auto environment = signedIn(service, work.path());
        QFile file(work.filePath(u"notes.txt"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("meeting notes\n");
        file.close();

        const auto [exitCode, output] =
            run(environment, {file.fileName(), u"--text"_s, u"https://example.com/a"_s},
                {u"Please read"_s,
                 HeadlessShare::Destination{HeadlessShare::Destination::Kind::Tovi, {}}});
        QVERIFY2(exitCode == 0, qPrintable(output));
        QVERIFY(output.contains(u"Sent"_s));

        const QDir shares(service.service().sharesDirectory());
        const auto stored = shares.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(stored.size(), 1);
        QFile record(shares.filePath(stored.first() + u"/share.json"_s));
        QVERIFY(record.open(QIODevice::ReadOnly));
        const auto share = QJsonDocument::fromJson(record.readAll()).object();
        QCOMPARE(share.value("message"_L1).toString(), u"Please read"_s);
        QVERIFY(share.value("destination"_L1).toObject().contains("tovi"_L1));
        const auto files = share.value("files"_L1).toArray();
        QCOMPARE(files.size(), 1);
        QCOMPARE(files[0].toObject().value("filename"_L1).toString(), u"notes.txt"_s);
    }

    void failuresEndWithOneLine_data()
    {
        QTest::addColumn<bool>("signIn");
        QTest::addColumn<bool>("requirePasskey");
        QTest::addColumn<QString>("line");
        QTest::newRow("signed out") << false << false << u"Open Zelt and sign in first."_s;
        QTest::newRow("step-up without a window")
            << true << true << u"Open Zelt to authenticate with your passkey, then share again."_s;
    }

    void failuresEndWithOneLine()
    {
        QFETCH(bool, signIn);
        QFETCH(bool, requirePasskey);
        QFETCH(QString, line);
        DevServiceOptions options;
        options.requirePasskey = requirePasskey;
        DevServiceFixture service(options);
        QTemporaryDir work;
        auto environment = signedIn(service, work.path());
        if (!signIn)
            environment->sessionStore().deleteStoredSession();
        environment->setSharedDefaultsFile(work.filePath(u"suite.ini"_s));
        const auto [exitCode, output] = run(
            environment, {u"--text"_s, u"hello"_s},
            {std::nullopt, HeadlessShare::Destination{HeadlessShare::Destination::Kind::Tovi, {}}});
        QCOMPARE(exitCode, 1);
        QCOMPARE(output.trimmed().split(u'\n').last(), line);
        QVERIFY(QDir(service.service().sharesDirectory()).isEmpty());
    }

    void usageErrors()
    {
        QProcess share;
        share.start(QCoreApplication::applicationDirPath() + u"/zelt-share"_s,
                    {u"--headless"_s, u"--page"_s, u"not json"_s});
        QVERIFY(share.waitForFinished(30000));
        QCOMPARE(share.exitCode(), 2);
        QVERIFY(!share.readAllStandardError().isEmpty());
    }

private:
    // The session the main application would have left, for the service's own user.
    static std::shared_ptr<ServiceEnvironment> signedIn(DevServiceFixture &service,
                                                        const QString &directory)
    {
        const QUrl origin(service.origin());
        auto keychain = std::make_unique<FileSessionKeychain>(directory, u"app.zelt.test"_s);
        NativeSharedSession session;
        session.baseOrigin = service.origin();
        session.cookieName = u"zelt_session"_s;
        session.cookieValue = QString::fromLatin1(service.signIn());
        keychain->store(session.fingerprint(), session.toJson());
        return std::make_shared<ServiceEnvironment>(
            ServiceOrigin{origin, ServiceOrigin::Source::Development},
            std::make_shared<SharedSessionStore>(std::move(keychain)),
            service.ssl().caCertificates());
    }

    static std::pair<int, QString> run(const std::shared_ptr<ServiceEnvironment> &environment,
                                       const QStringList &items, HeadlessShare::Options options)
    {
        QString output;
        QTextStream errors(&output);
        const auto context = ExtensionContext::fromCommandLine(items, nullptr, QDir::currentPath());
        ShareComposeModel model(environment, ShareComposeModel::intakeLoader(context.get()));
        HeadlessShare share(model, options, errors);
        QSignalSpy finished(&share, &HeadlessShare::finished);
        if (!finished.wait(30000))
            return {-1, output};
        return {finished.first().first().toInt(), output};
    }
};

QTEST_MAIN(TestHeadlessShare)
#include "tst_headlessshare.moc"
